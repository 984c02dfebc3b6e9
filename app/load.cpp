#include "app/load.h"

#include <cstdio>

#include "app/exit.h"
#include "render/render_buffers.h"

namespace {

[[noreturn]] void exit_with(const LoadError& e) {
    fputs(e.detail.c_str(), stderr);
    exit_program(1, "%s", e.message);
}

}  // namespace

void load_data_set(const std::string& folder) {
    const LoadError e = read_data_set(folder, viewer_data);
    if (e) exit_with(e);
    minimap_rect = MinimapRect{0, 0, minimap.w, minimap.h};
}

void prepare_render_buffers() {
    if (!allocate_work_images()) exit_program(1, "out of mem!");
    pack_base_textures(viewer_data);
    fill_level_scale();
}

void build_tile_index(TileSet& set, int64_t payload_len, int level, const char* filename) {
    const LoadError e = index_tile_set(set, payload_len, level, filename);
    if (e) exit_with(e);
}

void load_residual_level(const char* r_name, const char* g_name, const char* b_name,
                         ResidualLevel& entry, int level) {
    const LoadError e = read_residual_level(r_name, g_name, b_name, entry, level);
    if (e) exit_with(e);
}
