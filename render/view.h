#pragma once
#include <cstdint>

#include "camera/camera.h"
#include "store/format.h"

// Per-frame view state. render_view() recomputes all of it at the start of every frame; only
// current_level keeps its value from one frame to the next (1 before the first frame). The
// rasteriser reads it while render_view runs; the bench and the tests read it afterwards.

// Two opposite corners of the visible part of the image plane in level pixels of the current
// level: (x0, z0) top-left, (x1, z1) bottom-right.
struct ViewRect {
    float x0, z0, x1, z1;
};

// World tiles visited this frame, half-open: tx0 <= tx < tx1, tz0 <= tz < tz1.
struct TileRange {
    int32_t tx0, tx1, tz0, tz1;
};

// Where one world tile of the current level's grid lives in the data set.
struct WorldTile {
    int sub;    // sub-image, column + 4 * row
    int tc;     // tile column inside the sub-image
    int tr;     // tile row inside the sub-image
    int index;  // slot in the sub-image's tile index: tr * tiles_across + tc
};

extern int32_t current_level;  // 1..5
extern float current_scale;    // level_scale[current_level]: world units per level pixel
extern ViewRect view_rect;
extern TileRange tile_range;  // meaningful at levels 2..5 only
extern int32_t tiles_across;  // tile grid of one sub-image at the current level
extern int32_t tiles_down;
extern int32_t tiles_drawn;  // draw_tile calls of the last frame (0 at level 1)

// When set, frames are drawn with the straightforward per-pixel routines the fast ones are
// checked against (same pixels, slower). For the bench's baseline and the tests; off normally.
extern bool render_plain_paths;

// Level of detail for a camera height (already raised to the minimum height).
int choose_level(float height);

// The view rectangle for a camera at height h over (cx, cz) with axes r, u, f, the half-angle
// tangents K and V and `scale` world units per level pixel. Returns false (leaving `out`
// untouched) when an orientation or position makes a corner non-finite; the frame then stays black.
bool compute_view_rect(float h, float cx, float cz, const Vec4& r, const Vec4& u, const Vec4& f,
                       float K, float V, float scale, ViewRect& out);

// Tiles touched by a view rectangle. Corners far outside any tile grid are pulled in to
// +-2^30 so that the conversion to int stays defined; such tiles are skipped anyway.
TileRange compute_tile_range(const ViewRect& rect);

// Sub-image and tile slot of world tile (tx, tz), which must lie inside the grid of
// 4 * across x 2 * down tiles.
WorldTile locate_world_tile(int tx, int tz, int across, int down);

// Draws the world image as the camera sees it into frame_buffer (once per frame).
void render_view();
