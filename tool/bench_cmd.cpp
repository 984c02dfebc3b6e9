// quorvik-tool bench: frame times of the viewer's own renderer, without a window, for fixed views
// and for scripted flights.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/engine.h"
#include "render/kernels.h"
#include "render/picture.h"
#include "render/prefetch.h"
#include "render/view.h"
#include "store/data_set.h"
#include "tool/commands.h"
#include "tool/frame_tool.h"

namespace {

struct BenchOptions {
    std::string data, frames = "100", threads, cache_mb, pace = "40", frame_log;
    bool baseline = false, no_flights = false;
};

// The bench's fixed views, all over the middle of the picture (the world image's is
// (49152, 16384)), with residuals and bilinear sampling on and the overlays drawn as in the
// viewer. The heights choose the same levels counted from the finest in both forms.
struct BenchView {
    const char* name;
    int w, h;
    float height;
    bool hiqu;
};
const BenchView kBenchViews[] = {
    {"level 1", 512, 512, 4000.0f, false}, {"level 2", 512, 512, 3000.0f, false},
    {"level 3", 512, 512, 2000.0f, false}, {"level 4", 512, 512, 1000.0f, false},
    {"level 5", 512, 512, 600.0f, false},  {"level 5", 1920, 1080, 600.0f, false},
    {"hiqu", 512, 512, 1000.0f, true},     {"level 5", 3840, 2160, 600.0f, false},
};
float centre_x() {
    return float(picture_geometry.x0 + picture_geometry.width / 2);
}
float centre_z() {
    return float(picture_geometry.z0 + picture_geometry.height / 2);
}

// The scripted flight: from the start pose to a far point of the image (near its left edge, in
// its lower half) and back, at the start height, with the panel's default flight settings. A
// one-file picture's flight joins the same places of it, as fractions of its size.
constexpr float kFarX = -6000.0f, kFarZ = 40000.0f;
FlightView place_of(float world_x, float world_z) {
    const PictureGeometry& g = picture_geometry;
    if (!viewer_file) return FlightView{world_x, world_z, kStartHeight};
    const double fx = (double(world_x) + kWorldOffset) / kWorldWidth;
    const double fz = (double(world_z) + kWorldOffset) / kWorldHeight;
    return FlightView{float(g.x0 + fx * g.width), float(g.z0 + fz * g.height), kStartHeight};
}
const int kFlightSizes[][2] = {{1920, 1080}, {3840, 2160}};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = size_t(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double process_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

double wall_ms(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from)
        .count();
}

// Wall and CPU time of one frame in ms. The CPU time is what every thread of the process spent,
// which stays meaningful on a busy machine where the wall time also counts waiting for a core.
void timed_frame(bool plain, double& wall, double& cpu) {
    force_reference_kernels(plain);
    const double c0 = process_cpu_ms();
    const auto t0 = std::chrono::steady_clock::now();
    draw_frame();
    wall = wall_ms(t0);
    cpu = process_cpu_ms() - c0;
}

double peak_rss_mb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

std::string engine_summary() {
    const RenderEngine& e = render_engine();
    std::string s = std::to_string(e.threads()) + (e.threads() == 1 ? " thread" : " threads");
    s += e.cache_on() ? ", tile cache " + std::to_string(e.cache().budget() >> 20) + " MiB"
                      : ", no tile cache";
    return s;
}

bool bench_views(const BenchOptions& o, int frames, const std::string& opening, const char* cmd) {
    printf("%s; %d frames per view, residuals and bilinear on, overlays drawn, %s%s\n",
           opening.c_str(), frames, engine_summary().c_str(),
           o.baseline ? "; baseline = reference kernels, frames interleaved (each switch of "
                        "kernels empties the tile cache)"
                      : "");
    printf("%-8s %-10s %6s %5s %6s %10s %10s %10s", "view", "size", "height", "level", "tiles",
           "median ms", "p90 ms", "cpu med ms");
    if (o.baseline) printf(" %12s %8s", "base med ms", "speed-up");
    printf("\n");
    fflush(stdout);
    for (const BenchView& v : kBenchViews) {
        if (!set_frame_size(v.w, v.h)) return fail(cmd, "out of memory") == 0;
        viewer_settings.hiqu = v.hiqu ? 1 : 0;
        camera->set_position(centre_x(), v.height, centre_z());
        for (int i = 0; i < 3; ++i) draw_frame();  // warm caches and the column tables
        std::vector<double> wall, cpu, base;
        for (int i = 0; i < frames; ++i) {
            double w = 0, c = 0;
            timed_frame(false, w, c);
            wall.push_back(w);
            cpu.push_back(c);
            if (o.baseline) {
                timed_frame(true, w, c);
                base.push_back(w);
            }
        }
        force_reference_kernels(false);
        char size[32];
        snprintf(size, sizeof size, "%dx%d", v.w, v.h);
        const double median = percentile(wall, 0.5);
        const std::string name = v.hiqu ? "hiqu" : "level " + std::to_string(current_level);
        printf("%-8s %-10s %6.0f %5d %6d %10.3f %10.3f %10.3f", name.c_str(), size,
               double(v.height), current_level, tiles_drawn, median, percentile(wall, 0.9),
               percentile(cpu, 0.5));
        if (o.baseline) {
            const double b = percentile(base, 0.5);
            printf(" %12.3f %7.1fx", b, b / median);
        }
        printf("\n");
        fflush(stdout);
    }
    return true;
}

// One flight of the script: frames `pace_ms` of flight time apart; while pacing, each frame
// starts `pace_ms` after the previous one (as the viewer's frame-rate limit makes it), and the
// workers prefetch the path's next tiles in between.
void fly(const FlightView& from, const FlightView& to, int pace_ms, int step_ms,
         std::vector<double>& times, FILE* log) {
    const ViewerSettings& s = viewer_settings;
    RenderEngine& engine = render_engine();
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t k = 0;; ++k) {
        const uint32_t elapsed = k * uint32_t(step_ms);
        const FlightPoint p = flight_point(from, to, s.zoompan, s.velocity, s.dt, elapsed);
        if (p.state == FlightPoint::no_path) return;
        camera->set_position(p.x, p.y, p.z);
        const auto t0 = std::chrono::steady_clock::now();
        draw_frame();
        times.push_back(wall_ms(t0));
        if (log)
            fprintf(log, "%d %d %.0f %d %d %.3f\n", frame_width, int(times.size()), double(p.y),
                    current_level, tiles_drawn, times.back());
        if (p.state == FlightPoint::ended) return;
        FlightLookahead look{from,
                             to,
                             s.zoompan,
                             s.velocity,
                             s.dt,
                             elapsed,
                             *istr,
                             *iup,
                             *ifor,
                             half_width_factor,
                             half_height_factor,
                             s.hiqu != 0,
                             s.compressedResidue != 0};
        prefetch_flight(engine, viewer_picture(), look, kernels());
        if (pace_ms > 0)
            std::this_thread::sleep_until(start + std::chrono::milliseconds(pace_ms * (k + 1)));
    }
}

bool bench_flights(int pace_ms, const std::string& frame_log, const char* cmd) {
    FILE* log = frame_log.empty() ? nullptr : fopen(frame_log.c_str(), "w");
    if (!frame_log.empty() && !log) return fail(cmd, "cannot write '" + frame_log + "'") == 0;
    const int step_ms = int(kLookaheadStepMs);
    const FlightView home = place_of(kStartX, kStartZ), far = place_of(kFarX, kFarZ);
    printf(
        "\nflights from the start pose (%.0f, %.0f) to (%.0f, %.0f) and back at height %.0f, "
        "a frame every %d ms of flight time, %s; %s\n",
        double(home.x), double(home.z), double(far.x), double(far.z), double(kStartHeight), step_ms,
        pace_ms > 0 ? ("frames paced " + std::to_string(pace_ms) + " ms apart").c_str()
                    : "frames back to back",
        engine_summary().c_str());
    printf("%-8s %-10s %6s %10s %10s %10s %9s %10s\n", "flight", "size", "frames", "median ms",
           "p99 ms", "worst ms", "hit rate", "prefetched");
    fflush(stdout);
    RenderEngine& engine = render_engine();
    for (const auto& size : kFlightSizes) {
        if (!set_frame_size(size[0], size[1])) return fail(cmd, "out of memory") == 0;
        viewer_settings = ViewerSettings{};
        // The window shows the start view before the flight begins, as in the viewer: a frame
        // buffer of a new size is touched once here, not in the first timed frame.
        camera->set_position(home.x, kStartHeight, home.z);
        draw_frame();
        engine.cache().clear();
        engine.cache().reset_counts();
        const uint64_t prefetched_before = engine.prefetched();
        std::vector<double> times;
        fly(home, far, pace_ms, step_ms, times, log);
        fly(far, home, pace_ms, step_ms, times, log);
        engine.cancel_prefetch();
        const double lookups = double(engine.cache().hits() + engine.cache().misses());
        char name[32];
        snprintf(name, sizeof name, "%dx%d", size[0], size[1]);
        char hit_rate[32] = "-";
        if (engine.cache_on() && lookups > 0)
            snprintf(hit_rate, sizeof hit_rate, "%.1f%%", 100.0 * engine.cache().hits() / lookups);
        printf("%-8s %-10s %6zu %10.3f %10.3f %10.3f %9s %10llu\n", "there+back", name,
               times.size(), percentile(times, 0.5), percentile(times, 0.99),
               *std::max_element(times.begin(), times.end()), hit_rate,
               (unsigned long long)(engine.prefetched() - prefetched_before));
        fflush(stdout);
    }
    if (log) fclose(log);
    return true;
}

void run_bench(const BenchOptions& o, CLI::App* sub) {
    const char* cmd = "bench";
    if (!sub->remaining().empty()) {
        fail(cmd, "unexpected argument '" + sub->remaining().front() + "' (see --help)");
        return;
    }
    if (o.data.empty()) {
        fail(cmd, "--data is required (see --help)");
        return;
    }
    int frames = 0, pace = 0;
    if (!parse_int(o.frames, 1, 1000000, frames)) {
        fail(cmd, "--frames wants a whole number of at least 1, got '" + o.frames + "'");
        return;
    }
    if (!parse_int(o.pace, 0, 10000, pace)) {
        fail(cmd, "--pace wants milliseconds 0..10000, got '" + o.pace + "'");
        return;
    }
    console_out = fopen("/dev/null", "w");
    if (!console_out) console_out = stderr;
    if (!configure_engine(cmd, o.threads, o.cache_mb)) return;
    // Opening and the first frame, as the viewer starts: the start view in a 1920 x 1080 window.
    const auto t0 = std::chrono::steady_clock::now();
    if (!load_from(o.data, cmd)) return;
    const double open_ms = wall_ms(t0);
    viewer_settings = ViewerSettings{};
    if (!set_frame_size(1920, 1080)) {
        fail(cmd, "out of memory");
        return;
    }
    if (viewer_file) camera->set_position(centre_x(), fit_height(), centre_z());
    const auto t1 = std::chrono::steady_clock::now();
    draw_frame();
    const double first_ms = wall_ms(t1);
    char opening[200];
    snprintf(opening, sizeof opening,
             "opened in %.1f ms, first 1920x1080 frame (start view, level %d, %d tiles) %.1f ms, "
             "peak resident memory %.1f MB",
             open_ms, current_level, tiles_drawn, first_ms, peak_rss_mb());
    if (!bench_views(o, frames, opening, cmd)) return;
    if (!o.no_flights) {
        if (!bench_flights(pace, o.frame_log, cmd)) return;
        printf("peak resident memory of the whole run: %.1f MB\n", peak_rss_mb());
    }
    tool_status = 0;
}

}  // namespace

void register_bench_command(CLI::App& app) {
    static BenchOptions bo;
    CLI::App* bench = app.add_subcommand(
        "bench",
        "Time opening the data set and its first 1920x1080 frame, then frames of fixed views over "
        "the picture's centre (the world's: 49152, 16384): the five finest levels at 512x512 "
        "(heights 4000, 3000, 2000, 1000, 600), the finest at 1920x1080 (height 600), an "
        "always-finest view at height 1000 and the finest at 3840x2160 (height 600); prints "
        "median and 90th-percentile frame time and tiles drawn per frame. Then two scripted "
        "flights (1920x1080 and 3840x2160) from the start pose to a far point and back, with "
        "median, 99th-percentile and worst frame time and the tile cache's hit rate, and the "
        "peak resident memory of the whole run. Works on both forms (a folder or a NAME.qvk "
        "file)");
    bench->allow_extras();
    bench->add_option("--data", bo.data,
                      "Folder that holds ezw_data/, or a one-file picture NAME.qvk (required)");
    bench->add_option("--frames", bo.frames, "Timed frames per view (default 100)");
    bench->add_option("--threads", bo.threads,
                      "Threads that make and draw tiles (default 0: every core)");
    bench->add_option("--cache-mb", bo.cache_mb, "Tile cache budget in MiB (default 256, 0: none)");
    bench->add_option("--pace", bo.pace,
                      "Flights: milliseconds from one frame's start to the next, like the "
                      "viewer's frame-rate limit, giving the workers time to prefetch (default "
                      "40; 0: frames back to back)");
    bench->add_flag("--no-flights", bo.no_flights, "Only the fixed views");
    bench->add_option("--frame-log", bo.frame_log,
                      "Flights: write each frame's width, number, height, level, tiles and time "
                      "(ms) to this file, one line per frame");
    bench->add_flag("--baseline", bo.baseline,
                    "Also time the reference kernels, interleaved frame by frame, and print the "
                    "speed-up of the median");
    bench->callback([bench] { run_bench(bo, bench); });
}
