#pragma once
#include <cstdint>

// Projection rows for the world axes x, y, z: (focal_length * right.j, focal_length * up.j,
// forward.j). A camera-relative point a maps to (cu, cv, cw) = a.x * row x + a.y * row y +
// a.z * row z, cw being the depth.
extern float view_matrix[3][3];

// Rebuilds view_matrix from the camera axes and focal_length (once per frame).
void build_view_matrix();

// Interpolates the four bytes of a and b independently: a_k + floor((b_k - a_k) * weight / 32768),
// saturated to a byte. weight is a 15-bit fraction 0..32767.
uint32_t lerp_pixel(uint32_t a, uint32_t b, int weight);

// Level 1: fills the whole window from the packed base textures using view_rect.
void draw_base_level();

// Levels 2..5: projects final_tile as world tile (tx, tz) of the current level onto the window.
void draw_tile(int tx, int tz);

// The straightforward per-pixel forms of the two drawing routines, kept as the reference the
// fast versions above must match pixel for pixel (the tests compare them).
void draw_base_level_plain();
void draw_tile_plain(int tx, int tz);

// Screen columns and rows of a tile's two projected corners, shared by both draw_tile forms.
struct TileCorners {
    float sx0, sy0, sx1, sy1;  // near corner on W / 2, far corner on (W + 1) / 2
};
TileCorners project_tile_corners(int tx, int tz);

// Copies the frame buffer (W x H) into 32-bit 0x00RRGGBB surface memory of sw x sh pixels and
// `pitch` bytes per row: one block when the rows line up, otherwise row by row, and only where
// the surface exists.
void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh);
