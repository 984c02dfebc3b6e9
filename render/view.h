#pragma once
#include <cstdint>
#include <vector>

#include "camera/camera.h"
#include "render/picture.h"
#include "render/tile.h"
#include "store/format.h"

struct DataSet;

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
extern int32_t tiles_drawn;  // tiles drawn in the last frame (0 at level 1)

// Level of detail for a camera height (already raised to the minimum height); the first form
// reads "always highest resolution" from the viewer's settings.
int choose_level(float height);
int choose_level_for(float height, bool hiqu);

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

// What a camera sees: the level, the view rectangle and the tiles of the level's grid, in the
// order the frame draws them. For the frame itself (render_view) and for frames still to come
// (prefetching during a flight).
struct FrameView {
    float height;  // the camera's height, raised to the minimum
    int level;     // 1..5 (a one-file picture: 1..its levels)
    float scale;   // world units per level pixel
    bool visible;  // false: a corner of the view rectangle is not finite, nothing is drawn
    ViewRect rect;
    TileRange range;     // levels 2..5
    int across, down;    // tile grid of one sub-image at the level (a one-file picture: the level's)
    bool file_tiles;     // a one-file picture: every level is tiles, world tile = file tile
    int x_begin, x_end;  // the range's columns inside the grid, half-open
    int z_begin, z_end;  // and its rows
};
// The view of a camera at (x, height, z) with axes r, u, f, for a window with half-angle
// tangents K and V, over `picture` (whose tile grids must be loaded).
FrameView plan_view(float x, float height, float z, const Vec4& r, const Vec4& u, const Vec4& f,
                    float K, float V, bool hiqu, const Picture& picture);
// The tiles of a view (levels 2..5), in frame order, appended to `out` (for prefetching: no
// screen positions).
void view_tile_jobs(const FrameView& v, bool residuals, std::vector<TileJob>& out);

// Draws the world image as the camera sees it into frame_buffer (once per frame), with the
// render engine (render/engine.h) and the kernel table.
void render_view();
