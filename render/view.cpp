#include "render/view.h"

#include <cmath>
#include <cstring>

#include "app/frame_state.h"
#include "app/settings.h"
#include "render/engine.h"
#include "render/kernels.h"
#include "render/qvk_picture.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/synth.h"
#include "store/data_set.h"

int32_t current_level = 1;
float current_scale = 32.0f;
ViewRect view_rect = {0, 0, 0, 0};
TileRange tile_range = {0, 0, 0, 0};
int32_t tiles_across = 0;
int32_t tiles_down = 0;
int32_t tiles_drawn = 0;

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
    return choose_level_for(height, viewer_settings.hiqu != 0);
}

int choose_level_for(float height, bool hiqu) {
    if (hiqu) return 5;
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
    const double ox = picture_geometry.x0, oz = picture_geometry.z0;
    const ViewRect rect = {float((double(X0) - ox) / scale), float((double(Z0) - oz) / scale),
                           float((double(X1) - ox) / scale), float((double(Z1) - oz) / scale)};
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

FrameView plan_view(float x, float height, float z, const Vec4& r, const Vec4& u, const Vec4& f,
                    float K, float V, bool hiqu, const Picture& picture) {
    FrameView v{};
    v.height = height;
    v.file_tiles = picture.file != nullptr;
    if (picture.file) {
        v.level = picture.file->choose_level(height, hiqu);
        v.scale = picture.file->scale(v.level);
    } else {
        v.level = choose_level_for(height, hiqu);
        v.scale = level_scale[v.level];
    }
    v.visible = compute_view_rect(height, x, z, r, u, f, K, V, v.scale, v.rect);
    if (!v.visible || (v.level == 1 && !v.file_tiles)) return v;
    int grid_x, grid_y;
    if (picture.file) {
        // Render tiles, whatever size the file stores.
        v.across = grid_x = int(picture.file->render_tiles_x(v.level));
        v.down = grid_y = int(picture.file->render_tiles_y(v.level));
    } else {
        const TileSetHeader& header = picture.folder->residuals[0][v.level].R->header;
        v.across = header.merged_w / kTilePixels;
        v.down = header.merged_h / kTilePixels;
        grid_x = 4 * v.across;
        grid_y = 2 * v.down;
    }
    v.range = compute_tile_range(v.rect);
    // Tiles outside the grid are skipped; walking only the part of the range inside it visits
    // the same tiles in the same order.
    v.x_begin = v.range.tx0 > 0 ? v.range.tx0 : 0;
    v.x_end = v.range.tx1 < grid_x ? v.range.tx1 : grid_x;
    v.z_begin = v.range.tz0 > 0 ? v.range.tz0 : 0;
    v.z_end = v.range.tz1 < grid_y ? v.range.tz1 : grid_y;
    return v;
}

namespace {

template <typename Visit>
void for_each_view_tile(const FrameView& v, bool residuals, Visit&& visit) {
    if (!v.visible || (v.level == 1 && !v.file_tiles)) return;
    for (int tz = v.z_begin; tz < v.z_end; ++tz) {
        for (int tx = v.x_begin; tx < v.x_end; ++tx) {
            if (v.file_tiles) {
                visit(tx, tz,
                      TileJob{kFileSubImage, v.level, tx, tz, tz * v.across + tx, residuals});
                continue;
            }
            const WorldTile w = locate_world_tile(tx, tz, v.across, v.down);
            visit(tx, tz, TileJob{w.sub, v.level, w.tc, w.tr, w.index, residuals});
        }
    }
}

}  // namespace

void view_tile_jobs(const FrameView& v, bool residuals, std::vector<TileJob>& out) {
    for_each_view_tile(v, residuals, [&](int, int, const TileJob& job) { out.push_back(job); });
}

void render_view() {
    // Kept from frame to frame, so that a frame allocates nothing once the window's tiles fit.
    static std::vector<FrameTile> frame_tiles;
    RenderEngine& engine = render_engine();
    const FrameRows frame{frame_buffer, frame_width, frame_height, 0, frame_height};
    tiles_drawn = 0;
    if (ipos->y < kMinimumHeight) ipos->y = kMinimumHeight;
    const FrameView v = plan_view(ipos->x, ipos->y, ipos->z, *istr, *iup, *ifor, half_width_factor,
                                  half_height_factor, viewer_settings.hiqu != 0, viewer_picture());
    current_level = v.level;
    current_scale = v.scale;
    tile_range = TileRange{0, 0, 0, 0};
    if (!v.visible) {
        engine.clear_frame(frame);
        return;
    }
    view_rect = v.rect;
    const PixelKernels& k = kernels();
    const bool bilinear = viewer_settings.bilinIpol != 0;
    if (current_level == 1 && !v.file_tiles) {
        engine.draw_base_frame(frame, viewer_data, view_rect, bilinear, k);
        return;
    }
    tiles_across = v.across;
    tiles_down = v.down;
    tile_range = v.range;
    frame_tiles.clear();
    for_each_view_tile(v, viewer_settings.compressedResidue != 0,
                       [&](int tx, int tz, const TileJob& job) {
                           frame_tiles.push_back(FrameTile{job, project_tile_corners(tx, tz)});
                       });
    engine.draw_tile_frame(frame, viewer_picture(), frame_tiles, bilinear, k);
    tiles_drawn = int32_t(frame_tiles.size());
}
