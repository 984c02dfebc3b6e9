#pragma once
// Screen rasterisation: the projection of tiles onto the window, the drawing kernels and their
// per-thread scratch, and the copy of the frame into the display surface.
#include <cstdint>

#include "store/format.h"

struct RawImage;
struct ViewRect;

// Projection rows for the world axes x, y, z: (focal_length * right.j, focal_length * up.j,
// forward.j). A camera-relative point a maps to (cu, cv, cw) = a.x * row x + a.y * row y +
// a.z * row z, cw being the depth.
extern float view_matrix[3][3];

// Rebuilds view_matrix from the camera axes and focal_length (once per frame).
void build_view_matrix();

// Interpolates the four bytes of a and b independently: a_k + floor((b_k - a_k) * weight / 32768),
// saturated to a byte. weight is a 15-bit fraction 0..32767.
uint32_t lerp_pixel(uint32_t a, uint32_t b, int weight);

// Screen columns and rows of a tile's two projected corners.
struct TileCorners {
    float sx0, sy0, sx1, sy1;  // near corner on W / 2, far corner on (W + 1) / 2
};
// The corners of world tile (tx, tz) of the current level (current_scale) for the camera and the
// window of this frame (ipos, view_matrix, frame_width, frame_height).
TileCorners project_tile_corners(int tx, int tz);
// The pixels a tile kernel writes for a tile with these corners in a width x height frame:
// columns [x0, x1) of rows [y0, y1), every one of them. False when it writes nothing.
bool tile_screen_rect(const TileCorners& c, int width, int height, int& x0, int& x1, int& y0,
                      int& y1);

// ---- Drawing kernels ----------------------------------------------------------------------------
// Each kernel draws into the rows [y_begin, y_end) of a frame of width x height packed pixels and
// writes nothing else, so that several threads can draw one frame in bands of rows. A band gets
// exactly the pixels a whole-frame call would give those rows: positions are accumulated from the
// first row of the tile or the frame, never from the band's first row.
struct FrameRows {
    uint32_t* pixels;  // the whole frame, pixel (x, y) at y * width + x
    int width, height;
    int y_begin, y_end;  // 0 <= y_begin <= y_end <= height
};

// A tile as the drawing kernels read it: 0x00RRGGBB words, 64 rows of 66 with one spare row and
// two spare columns repeating the last ones, so that a sample at tile column or row 63 can read
// its (zero-weighted) right or lower neighbour without leaving the array.
constexpr int kPaddedTileStride = kTilePixels + 2;
constexpr int kPaddedTileWords = (kTilePixels + 1) * kPaddedTileStride;
// Packs a final tile (64 x 64 four-byte pixels, byte 0 red, rows `stride` bytes apart).
void pack_tile_words(const uint8_t* tile, int stride, uint32_t* padded);

// Per-thread tables of the drawing kernels, grown with the window only (nothing is allocated per
// frame otherwise).
class DrawScratch {
  public:
    DrawScratch() = default;
    ~DrawScratch();
    DrawScratch(const DrawScratch&) = delete;
    DrawScratch& operator=(const DrawScratch&) = delete;
    // Room for n columns; false when memory ran out (the kernel then draws nothing).
    bool reserve(int n);

    int32_t* offset = nullptr;              // tile column or image position
    int16_t* weight = nullptr;              // level 1: horizontal weight
    int32_t* extra = nullptr;               // level 1: sub-image column
    int16_t* wide = nullptr;                // tiles: horizontal weight repeated in four lanes
    int16_t* rows[2] = {nullptr, nullptr};  // two horizontally blended tile or texture rows
    int32_t* safe = nullptr;                // level 1: sub-image column * 1024 + pixel that is
                                            // safe to read with its right neighbour
    int32_t* special = nullptr;             // level 1: columns not blended (outside, last pixel)
    const uint32_t** texels = nullptr;      // level 1: each column's safe texel in row 0 of its
                                            // texture, for the sub-image row being drawn

  private:
    int capacity_ = 0;
};

// Levels 2..5: a tile with these corners. The straightforward per-pixel form is the reference.
void draw_tile_rows_plain(const FrameRows& rows, const TileCorners& corners, const uint32_t* tile,
                          bool bilinear, DrawScratch& scratch);
void draw_tile_rows_sse2(const FrameRows& rows, const TileCorners& corners, const uint32_t* tile,
                         bool bilinear, DrawScratch& scratch);  // x86-64 builds only
// Level 1: the view rectangle from the eight packed base textures. Writes every pixel of the
// rows: black where the image does not reach, so the frame needs no clearing first.
void draw_base_rows_plain(const FrameRows& rows, const ViewRect& rect,
                          const RawImage* packed_textures, bool bilinear, DrawScratch& scratch);
void draw_base_rows_sse2(const FrameRows& rows, const ViewRect& rect,
                         const RawImage* packed_textures, bool bilinear,
                         DrawScratch& scratch);  // x86-64 builds only

// ---- The viewer's single-threaded forms (whole frame, globals) ----------------------------------
// Level 1: fills the whole window from the packed base textures using view_rect.
void draw_base_level();
// Levels 2..5: projects final_tile as world tile (tx, tz) of the current level onto the window.
void draw_tile(int tx, int tz);
// The same through the reference kernels, which the tests compare them with.
void draw_base_level_plain();
void draw_tile_plain(int tx, int tz);

// Copies the frame buffer (W x H) into 32-bit 0x00RRGGBB surface memory of sw x sh pixels and
// `pitch` bytes per row: one block when the rows line up, otherwise row by row, and only where
// the surface exists.
void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh);
