#include "tool/frame_tool.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/load.h"
#include "camera/camera.h"
#include "decoder/scan_order.h"
#include "render/engine.h"
#include "render/overlays.h"
#include "render/picture.h"
#include "render/qvk_picture.h"
#include "store/qvk_file.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/view.h"
#include "store/data_set.h"
#include "tool/commands.h"

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

bool configure_engine(const char* command, const std::string& threads_text,
                      const std::string& cache_text) {
    int threads = 0, cache_mb = int(kDefaultCacheBytes >> 20);
    if (!threads_text.empty() && !parse_int(threads_text, 0, 1024, threads))
        return fail(command,
                    "--threads wants 0 (every core) .. 1024, got '" + threads_text + "'") == 0;
    if (!cache_text.empty() && !parse_int(cache_text, 0, 1 << 20, cache_mb))
        return fail(command,
                    "--cache-mb wants 0 (no cache) .. 1048576, got '" + cache_text + "'") == 0;
    render_engine().configure(threads, size_t(cache_mb) << 20);
    return true;
}

bool load_from(const std::string& dir, const char* command) {
    std::string why;
    if (is_qvk_path(dir)) {
        if (!place_start_camera()) return fail(command, "out of memory") == 0;
        viewer_file = QvkPicture::open(dir, why);
        if (!viewer_file) return fail(command, why) == 0;
        if (!install_viewer_file(console_out)) return fail(command, "out of memory") == 0;
        prepare_render_buffers();
        return true;
    }
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
