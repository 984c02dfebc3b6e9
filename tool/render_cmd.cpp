// quorvik-tool render: one frame of the viewer's own renderer, without a window, as PNG or PPM.
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
#include "render/kernels.h"
#include "render/overlays.h"
#include "render/picture.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/view.h"
#include "store/data_set.h"
#include "tool/commands.h"
#include "tool/frame_tool.h"
#include "tool/render_image.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSide = 16384;

struct RenderOptions {
    std::string data, camera, view, region, size, out, threads, cache_mb;
    bool nearest = false, no_residuals = false, hiqu = false, no_minimap = false,
         no_crosshair = false, verbose = false, ppm = false, plain = false;
};

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

// N comma-separated finite numbers.
bool parse_numbers(const std::string& text, int n, double* out) {
    size_t start = 0;
    for (int i = 0; i < n; ++i) {
        const size_t comma = text.find(',', start);
        if ((i < n - 1) != (comma != std::string::npos)) return false;
        float v;
        if (!parse_float(text.substr(start, comma == std::string::npos ? comma : comma - start), v))
            return false;
        out[i] = v;
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

void run_render(const RenderOptions& o, CLI::App* sub) {
    const char* cmd = "render";
    if (!sub->remaining().empty()) {
        fail(cmd, "unexpected argument '" + sub->remaining().front() + "' (see --help)");
        return;
    }
    if (o.data.empty() || o.size.empty() || o.out.empty()) {
        fail(cmd, "--data, --size and --out are required (see --help)");
        return;
    }
    if (int(!o.camera.empty()) + int(!o.view.empty()) + int(!o.region.empty()) != 1) {
        fail(cmd, "give one of --camera, --view and --region (see --help)");
        return;
    }
    float xyz[3] = {0, 0, 0};
    if (!o.camera.empty() && !parse_camera(o.camera, xyz)) {
        fail(cmd, "--camera wants three finite numbers X,Y,Z, got '" + o.camera + "'");
        return;
    }
    StartView view;
    double v[4];
    if (!o.view.empty()) {
        if (!parse_numbers(o.view, 3, v) || v[0] < 0 || v[1] < 0 || !(v[2] > 0)) {
            fail(cmd,
                 "--view wants X,Y,S (a picture pixel and screen pixels per picture pixel, "
                 "S above 0), got '" +
                     o.view + "'");
            return;
        }
        view = StartView{true, v[0], v[1], v[2]};
    }
    if (!o.region.empty() &&
        (!parse_numbers(o.region, 4, v) || v[0] < 0 || v[1] < 0 || !(v[2] > 0) || !(v[3] > 0))) {
        fail(cmd,
             "--region wants X,Y,W,H in picture pixels (W and H above 0), got '" + o.region + "'");
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
    if (!configure_engine(cmd, o.threads, o.cache_mb) || !load_from(o.data, cmd)) return;

    camera->set_position(xyz[0], xyz[1], xyz[2]);
    viewer_settings.bilinIpol = o.nearest ? 0 : 1;
    viewer_settings.compressedResidue = o.no_residuals ? 0 : 1;
    viewer_settings.hiqu = o.hiqu ? 1 : 0;
    viewer_settings.showMinimap = o.no_minimap ? 0 : 1;
    viewer_settings.drawCrosshair = o.no_crosshair ? 0 : 1;
    force_reference_kernels(o.plain);
    if (!set_frame_size(w, h)) {
        fail(cmd, "out of memory for a " + o.size + " frame");
        return;
    }
    // The region fills the frame's width or height, whichever it reaches first, centred.
    if (!o.region.empty())
        view = StartView{true, v[0] + v[2] / 2, v[1] + v[3] / 2, std::min(w / v[2], h / v[3])};
    if (view.given) apply_view(view);
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

}  // namespace

void register_render_commands(CLI::App& app) {
    static RenderOptions ro;
    CLI::App* render = app.add_subcommand(
        "render", "Render one frame of a data set as the viewer would show it and save it as PNG");
    render->allow_extras();
    render->add_option("--data", ro.data,
                       "Folder that holds ezw_data/, or a one-file picture NAME.qvk (required)");
    render->add_option("--camera", ro.camera,
                       "Camera position X,Y,Z in world units, Y the height; negative values "
                       "are fine, e.g. --camera=-500,800,100");
    render->add_option("--view", ro.view,
                       "The view X,Y,S the viewer's v key prints: centred on picture pixel (X, Y) "
                       "of the finest level at S screen pixels per picture pixel");
    render->add_option("--region", ro.region,
                       "Render the region X,Y,W,H given in pixels of the finest level (the folder "
                       "form: of the world at level 5), fitted into --size and centred; "
                       "one of --camera, --view and --region is required");
    render->add_option("--size", ro.size, "Frame size WxH in pixels, e.g. 512x512 (required)");
    render->add_option("--out", ro.out, "Output file (required)");
    render->add_flag("--nearest", ro.nearest, "Nearest-pixel instead of bilinear sampling");
    render->add_flag("--no-residuals", ro.no_residuals, "Draw the prediction without residuals");
    render->add_flag("--hiqu", ro.hiqu, "Always draw the finest level");
    render->add_flag("--no-minimap", ro.no_minimap, "Leave out the minimap and its marker");
    render->add_flag("--no-crosshair", ro.no_crosshair, "Leave out the crosshair");
    render->add_flag("--ppm", ro.ppm, "Write a binary PPM instead of a PNG");
    render->add_flag("--plain", ro.plain,
                     "Use the slow reference kernels everywhere: decoding, prediction, drawing "
                     "(for cross-checking)");
    render->add_option("--threads", ro.threads,
                       "Threads that make and draw the frame's tiles (default 0: every core); "
                       "the frame is the same for any number");
    render->add_option("--cache-mb", ro.cache_mb,
                       "Tile cache budget in MiB (default 256, 0: no cache); the frame is the "
                       "same either way");
    render->add_flag("--verbose", ro.verbose,
                     "Loading log on standard error, frame summary on standard output");
    render->callback([render] { run_render(ro, render); });
}
