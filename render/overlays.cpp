#include "render/overlays.h"

#include <cstring>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/picture.h"
#include "store/data_set.h"
#include "store/format.h"

namespace {

constexpr double kPositionLimit = 1073741824.0;  // 2^30: off any frame, inside int range

int trunc_clamped(double v) {
    if (!(v > -kPositionLimit)) return -int(kPositionLimit);
    if (!(v < kPositionLimit)) return int(kPositionLimit);
    return int(v);
}

inline void put(int x, int y, uint32_t colour) {
    frame_buffer[size_t(y) * frame_width + x] = colour;
}

void copy_minimap() {
    const MinimapRect& r = minimap_rect;
    const int W = frame_width, H = frame_height;
    const int cw = r.x + r.w >= W ? W - r.x : r.w;
    const int ch = r.y + r.h >= H ? H - r.y : r.h;
    if (ch <= 0 || cw <= 0) return;
    for (int j = 0; j < ch; ++j)
        memcpy(frame_buffer + size_t(r.y + j) * W + r.x, minimap.data + size_t(j) * minimap.stride,
               size_t(cw) * 4);
}

}  // namespace

void draw_plus(int cx, int cy, uint32_t colour) {
    const int W = frame_width, H = frame_height;
    const bool col_in = 0 <= cx && cx < W;
    const bool row_in = 0 <= cy && cy < H;
    if (col_in && row_in) put(cx, cy, colour);
    if (row_in && 0 <= cx && cx + 1 < W) put(cx + 1, cy, colour);
    if (row_in && 0 <= cx - 1 && cx < W) put(cx - 1, cy, colour);
    if (col_in && 0 <= cy && cy + 1 < H) put(cx, cy + 1, colour);
    if (col_in && 0 <= cy - 1 && cy < H) put(cx, cy - 1, colour);
}

void draw_overlays() {
    if (viewer_settings.showMinimap) {
        copy_minimap();
        const MinimapRect& r = minimap_rect;
        const PictureGeometry& g = picture_geometry;
        const int mx = r.x + trunc_clamped((double(ipos->x) - g.x0) * r.w / g.width);
        const int my = r.y + trunc_clamped((double(ipos->z) - g.z0) * r.h / g.height);
        draw_plus(mx, my, kMarkerColour);
    }
    if (viewer_settings.drawCrosshair)
        draw_plus(frame_width >> 1, frame_height >> 1, kCrosshairColour);
}
