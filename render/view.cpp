#include "render/view.h"

#include <cmath>
#include <cstring>

#include "app/frame_state.h"
#include "app/settings.h"
#include "decoder/decode_tile.h"
#include "render/raster.h"
#include "render/synth.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

int32_t current_level = 1;
float current_scale = 32.0f;
ViewRect view_rect = {0, 0, 0, 0};
TileRange tile_range = {0, 0, 0, 0};
int32_t tiles_across = 0;
int32_t tiles_down = 0;
int32_t tiles_drawn = 0;
bool render_plain_paths = false;

namespace {

constexpr float kMinimumHeight = 100.0f;
constexpr double kIndexLimit = 1073741824.0;  // 2^30: beyond every tile grid, inside int range

int trunc_to_int(double v) {
    if (v < -kIndexLimit) return -int(kIndexLimit);
    if (v > kIndexLimit) return int(kIndexLimit);
    return int(v);
}

}  // namespace

int choose_level(float height) {
    if (viewer_settings.hiqu) return 5;
    if (height > 3750.0f) return 1;
    if (height > 2250.0f) return 2;
    if (height > 1250.0f) return 3;
    if (height > 625.0f) return 4;
    return 5;
}

bool compute_view_rect(float h, float cx, float cz, const Vec4& r, const Vec4& u, const Vec4& f,
                       float K, float V, float scale, ViewRect& out) {
    // Every step is evaluated in double and kept as a float, which is what makes frames
    // reproducible to the pixel across builds.
    const double k = K, v = V;
    const float ex = float(-k * r.x + v * u.x);
    const float ez = float(-k * r.z + v * u.z);
    const float t0 = float(double(h) / (double(f.y) - k * r.y + v * u.y));
    const float t1 = float(double(h) / (double(f.y) + k * r.y + v * u.y));
    const float X0 = float(double(cx) - double(t0) * ex);
    const float Z0 = float(double(cz) + double(t0) * ez);
    const float X1 = float(double(cx) + double(t1) * ex);
    const float Z1 = float(double(cz) - double(t1) * ez);
    const ViewRect rect = {
        float((double(X0) + kWorldOffset) / scale), float((double(Z0) + kWorldOffset) / scale),
        float((double(X1) + kWorldOffset) / scale), float((double(Z1) + kWorldOffset) / scale)};
    // A degenerate orientation (a zero divisor) or an absurd position must not reach the
    // rasteriser's integer conversions.
    if (!std::isfinite(rect.x0) || !std::isfinite(rect.z0) || !std::isfinite(rect.x1) ||
        !std::isfinite(rect.z1))
        return false;
    out = rect;
    return true;
}

TileRange compute_tile_range(const ViewRect& rect) {
    TileRange t;
    t.tx0 = trunc_to_int(double(rect.x0) / kTilePixels);
    t.tz0 = trunc_to_int(double(rect.z0) / kTilePixels);
    t.tx1 = 1 - trunc_to_int(-double(rect.x1) / kTilePixels);
    t.tz1 = 1 - trunc_to_int(-double(rect.z1) / kTilePixels);
    return t;
}

WorldTile locate_world_tile(int tx, int tz, int across, int down) {
    WorldTile w;
    const int column = tx / across, row = tz / down;
    w.sub = column + 4 * row;
    w.tc = tx % across;
    w.tr = tz % down;
    w.index = w.tr * across + w.tc;
    return w;
}

void render_view() {
    memset(frame_buffer, 0, size_t(frame_width) * size_t(frame_height) * 4);
    tiles_drawn = 0;
    if (ipos->y < kMinimumHeight) ipos->y = kMinimumHeight;
    current_level = choose_level(ipos->y);
    current_scale = level_scale[current_level];
    tile_range = TileRange{0, 0, 0, 0};
    if (!compute_view_rect(ipos->y, ipos->x, ipos->z, *istr, *iup, *ifor, half_width_factor,
                           half_height_factor, current_scale, view_rect))
        return;
    if (current_level == 1) {
        if (render_plain_paths)
            draw_base_level_plain();
        else
            draw_base_level();
        return;
    }
    const TileSetHeader& header = residuals_level[0][current_level].R->header;
    tiles_across = header.merged_w / kTilePixels;
    tiles_down = header.merged_h / kTilePixels;
    tile_range = compute_tile_range(view_rect);
    // Tiles outside the grid are skipped; walking only the part of the range inside it visits
    // the same tiles in the same order.
    const int x_begin = tile_range.tx0 > 0 ? tile_range.tx0 : 0;
    const int x_end = tile_range.tx1 < 4 * tiles_across ? tile_range.tx1 : 4 * tiles_across;
    const int z_begin = tile_range.tz0 > 0 ? tile_range.tz0 : 0;
    const int z_end = tile_range.tz1 < 2 * tiles_down ? tile_range.tz1 : 2 * tiles_down;
    const int residuals = viewer_settings.compressedResidue;
    for (int tz = z_begin; tz < z_end; ++tz) {
        for (int tx = x_begin; tx < x_end; ++tx) {
            const WorldTile w = locate_world_tile(tx, tz, tiles_across, tiles_down);
            if (residuals) decode_tile(w.sub, current_level, w.index);
            const RawImage& prediction = synthesise_tile(w.sub, w.tc, w.tr, current_level);
            if (render_plain_paths) {
                add_residual_plain(prediction);
                draw_tile_plain(tx, tz);
            } else {
                add_residual(prediction);
                draw_tile(tx, tz);
            }
            ++tiles_drawn;
        }
    }
}
