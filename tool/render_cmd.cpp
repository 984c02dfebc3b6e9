// quorvik-tool render and bench: the viewer's own renderer driven without a window.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "decoder/scan_order.h"
#include "render/overlays.h"
#include "render/raster.h"
#include "render/view.h"
#include "store/data_set.h"
#include "store/render_buffers.h"
#include "tool/commands.h"
#include "tool/render_image.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 16384;

struct RenderOptions {
    std::string data, camera, size, out;
    bool nearest = false, no_residuals = false, hiqu = false, no_minimap = false,
         no_crosshair = false, verbose = false, ppm = false, plain = false;
};

struct BenchOptions {
    std::string data, frames = "100";
    bool baseline = false;
};

int fail(const char* command, const std::string& message) {
    fprintf(stderr, "quorvik-tool %s: %s\n", command, message.c_str());
    tool_status = 1;
    return 1;
}

bool parse_float(const std::string& text, float& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = strtod(text.c_str(), &end);
    if (*end != '\0' || errno == ERANGE) return false;
    out = float(v);
    return std::isfinite(out);
}

bool parse_int(const std::string& text, long lo, long hi, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || v < lo || v > hi) return false;
    out = int(v);
    return true;
}

bool parse_camera(const std::string& text, float xyz[3]) {
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return false;
        if (!parse_float(text.substr(start, comma == std::string::npos ? comma : comma - start),
                         xyz[i]))
            return false;
        start = comma + 1;
    }
    return true;
}

bool parse_size(const std::string& text, int& w, int& h) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    return parse_int(text.substr(0, x), 1, kMaxSide, w) &&
           parse_int(text.substr(x + 1), 1, kMaxSide, h);
}

// Opens the data set in `dir` (the folder holding ezw_data, or ezw_data itself) the way the
// viewer does at start-up: camera, scan order, data set, work images.
bool load_from(const std::string& dir, const char* command) {
    std::string why;
    const std::string folder = find_data_folder(dir, why);
    if (folder.empty()) return fail(command, "'" + dir + "': " + why) == 0;
    if (!place_start_camera()) return fail(command, "out of memory") == 0;
    build_scan_order();
    if (const LoadError e = read_data_set(folder, viewer_data))
        return fail(command, "cannot load the data set: " + e.describe()) == 0;
    minimap_rect = MinimapRect{0, 0, minimap.w, minimap.h};
    prepare_render_buffers();
    // The decoder overwrites the whole residual tile; starting from a defined one keeps frames
    // reproducible whatever the allocator handed out.
    memset(residual_tile.data, 0, size_t(residual_tile.stride) * residual_tile.h);
    return true;
}

bool set_frame_size(int w, int h) {
    if (!resize_frame_buffer(w, h)) return false;
    compute_window_shape(w, h, 4 * w, w);
    return true;
}

void draw_frame() {
    build_view_matrix();
    render_view();
    draw_overlays();
}

void run_render(const RenderOptions& o, CLI::App* sub) {
    const char* cmd = "render";
    if (!sub->remaining().empty()) {
        fail(cmd, "unexpected argument '" + sub->remaining().front() + "' (see --help)");
        return;
    }
    if (o.data.empty() || o.camera.empty() || o.size.empty() || o.out.empty()) {
        fail(cmd, "--data, --camera, --size and --out are required (see --help)");
        return;
    }
    float xyz[3];
    if (!parse_camera(o.camera, xyz)) {
        fail(cmd, "--camera wants three finite numbers X,Y,Z, got '" + o.camera + "'");
        return;
    }
    int w = 0, h = 0;
    if (!parse_size(o.size, w, h)) {
        fail(cmd, "--size wants WxH with each side 1.." + std::to_string(kMaxSide) + ", got '" +
                      o.size + "'");
        return;
    }
    std::error_code ec;
    const fs::path out = fs::absolute(o.out, ec);
    if (ec || o.out.back() == '/') {
        fail(cmd, "bad output path '" + o.out + "'");
        return;
    }
    if (!o.verbose) console_out = fopen("/dev/null", "w");
    if (!console_out) console_out = stderr;
    if (!load_from(o.data, cmd)) return;

    camera->set_position(xyz[0], xyz[1], xyz[2]);
    viewer_settings.bilinIpol = o.nearest ? 0 : 1;
    viewer_settings.compressedResidue = o.no_residuals ? 0 : 1;
    viewer_settings.hiqu = o.hiqu ? 1 : 0;
    viewer_settings.showMinimap = o.no_minimap ? 0 : 1;
    viewer_settings.drawCrosshair = o.no_crosshair ? 0 : 1;
    render_plain_paths = o.plain;
    if (!set_frame_size(w, h)) {
        fail(cmd, "out of memory for a " + o.size + " frame");
        return;
    }
    draw_frame();

    std::string why;
    const bool written =
        o.ppm ? write_frame_ppm(out.string(), why) : write_frame_png(out.string(), why);
    if (!written) {
        fail(cmd, "cannot write '" + o.out + "': " + why);
        return;
    }
    if (o.verbose) {
        printf("level %d, view rect %.9g %.9g %.9g %.9g, %d tiles drawn\n", current_level,
               view_rect.x0, view_rect.z0, view_rect.x1, view_rect.z1, tiles_drawn);
        printf("camera %.9g %.9g %.9g\n", ipos->x, ipos->y, ipos->z);
        printf("wrote %s (%dx%d)\n", out.string().c_str(), w, h);
    }
    tool_status = 0;
}

// The bench's fixed views, all over the middle of the world image (49152, 16384), with
// residuals and bilinear sampling on and the overlays drawn as in the viewer.
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
    {"hiqu", 512, 512, 1000.0f, true},
};
constexpr float kBenchX = 49152.0f, kBenchZ = 16384.0f;

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = size_t(p * double(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
}

// Wall and CPU time of one frame in ms; the CPU time is what this thread actually spent, which
// stays meaningful on a busy machine where the wall time also counts waiting for a core.
void timed_frame(bool plain, double& wall, double& cpu) {
    render_plain_paths = plain;
    const double c0 = thread_cpu_ms();
    const auto t0 = std::chrono::steady_clock::now();
    draw_frame();
    const auto t1 = std::chrono::steady_clock::now();
    cpu = thread_cpu_ms() - c0;
    wall = std::chrono::duration<double, std::milli>(t1 - t0).count();
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
    int frames = 0;
    if (!parse_int(o.frames, 1, 1000000, frames)) {
        fail(cmd, "--frames wants a whole number of at least 1, got '" + o.frames + "'");
        return;
    }
    console_out = fopen("/dev/null", "w");
    if (!console_out) console_out = stderr;
    if (!load_from(o.data, cmd)) return;
    viewer_settings = ViewerSettings{};
    printf("%d frames per view, residuals and bilinear on, overlays drawn, one thread%s\n", frames,
           o.baseline ? "; baseline = reference routines, frames interleaved" : "");
    printf("%-8s %-10s %6s %5s %6s %10s %10s %10s", "view", "size", "height", "level", "tiles",
           "median ms", "p90 ms", "cpu med ms");
    if (o.baseline) printf(" %12s %8s", "base med ms", "speed-up");
    printf("\n");
    fflush(stdout);
    for (const BenchView& v : kBenchViews) {
        if (!set_frame_size(v.w, v.h)) {
            fail(cmd, "out of memory");
            return;
        }
        viewer_settings.hiqu = v.hiqu ? 1 : 0;
        camera->set_position(kBenchX, v.height, kBenchZ);
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
        render_plain_paths = false;
        char size[32];
        snprintf(size, sizeof size, "%dx%d", v.w, v.h);
        const double median = percentile(wall, 0.5);
        printf("%-8s %-10s %6.0f %5d %6d %10.3f %10.3f %10.3f", v.name, size, double(v.height),
               current_level, tiles_drawn, median, percentile(wall, 0.9), percentile(cpu, 0.5));
        if (o.baseline) {
            const double b = percentile(base, 0.5);
            printf(" %12.3f %7.1fx", b, b / median);
        }
        printf("\n");
        fflush(stdout);
    }
    tool_status = 0;
}

}  // namespace

void register_render_commands(CLI::App& app) {
    static RenderOptions ro;
    CLI::App* render = app.add_subcommand(
        "render", "Render one frame of a data set as the viewer would show it and save it as PNG");
    render->allow_extras();
    render->add_option("--data", ro.data, "Folder that holds ezw_data/ (required)");
    render->add_option("--camera", ro.camera,
                       "Camera position X,Y,Z in world units, Y the height; negative values "
                       "are fine, e.g. --camera=-500,800,100 (required)");
    render->add_option("--size", ro.size, "Frame size WxH in pixels, e.g. 512x512 (required)");
    render->add_option("--out", ro.out, "Output file (required)");
    render->add_flag("--nearest", ro.nearest, "Nearest-pixel instead of bilinear sampling");
    render->add_flag("--no-residuals", ro.no_residuals, "Draw the prediction without residuals");
    render->add_flag("--hiqu", ro.hiqu, "Always draw the finest level");
    render->add_flag("--no-minimap", ro.no_minimap, "Leave out the minimap and its marker");
    render->add_flag("--no-crosshair", ro.no_crosshair, "Leave out the crosshair");
    render->add_flag("--ppm", ro.ppm, "Write a binary PPM instead of a PNG");
    render->add_flag("--plain", ro.plain,
                     "Use the slow reference drawing routines (for cross-checking)");
    render->add_flag("--verbose", ro.verbose,
                     "Loading log on standard error, frame summary on standard output");
    render->callback([render] { run_render(ro, render); });

    static BenchOptions bo;
    CLI::App* bench = app.add_subcommand(
        "bench",
        "Time frames of fixed views over the image centre (49152, 16384): levels 1-5 at 512x512 "
        "(heights 4000, 3000, 2000, 1000, 600), level 5 at 1920x1080 (height 600) and an "
        "always-finest view at height 1000; prints median and 90th-percentile frame time and "
        "tiles drawn per frame");
    bench->allow_extras();
    bench->add_option("--data", bo.data, "Folder that holds ezw_data/ (required)");
    bench->add_option("--frames", bo.frames, "Timed frames per view (default 100)");
    bench->add_flag("--baseline", bo.baseline,
                    "Also time the reference drawing routines, interleaved frame by frame, and "
                    "print the speed-up of the median");
    bench->callback([bench] { run_bench(bo, bench); });
}
