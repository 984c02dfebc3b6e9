#pragma once
#include <cstdint>

#include "store/raw_image.h"

// Tile prediction: a tile of level L is its sub-image's base texture upsampled L - 1 times with
// the four-point (-1, 9, 9, -1) / 16 filter, each step making a 72 x 72 image (the 64 x 64 core
// at 4..67 plus a 4-pixel margin that feeds the next step).

constexpr int kSynthSize = 72;
constexpr int kSynthMargin = 4;

// One doubling step over plain arrays. The source has w x h pixels of `bpp` bytes (3 or 4;
// channels 0..2 are used) and rows `stride` bytes apart; the step reads source pixels
// (ox + i, oz + j) for i, j in -1..37, clamping coordinates to the source's edges, and writes all
// 72 x 72 pixels of `target` (4 bytes each, rows 288 bytes apart). Byte 3 of a target pixel is
// written as 0 and never read. Keeps no state: safe to call from several threads at once.
void upsample_step(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                   uint8_t* target);

// The same step computed literally, pixel by pixel with the 16-tap odd-odd case; the reference
// upsample_step must match in bytes 0..2 (it leaves byte 3 untouched).
void upsample_step_plain(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                         uint8_t* target);

// Predicts tile (tc, tr) of sub-image s at level L (2..5) from base_tex[s] into synth_a (L even)
// or synth_b (L odd); returns that image.
const RawImage& synthesise_tile(int s, int tc, int tr, int L);

// The same prediction from any base texture into caller-owned 72 x 72 x 4 buffers (`even` takes
// the role of synth_a, `odd` of synth_b); returns the buffer holding the tile's prediction.
// Reentrant, for predicting tiles outside the viewer (the data set builder).
const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd);

// final_tile := the 64 x 64 core of `prediction`, plus residual_tile (zero point 127, attenuated
// in the three outermost rows and columns) when compressed residuals are on.
void add_residual(const RawImage& prediction);
void add_residual_plain(const RawImage& prediction);

// Residual correction of one channel value at border distance d (0, 1, 2, or 3 and more).
int residual_value(int p, int r, int d);

// The border distance the residual correction uses for tile pixel (x, y): the distance to the
// nearest edge, where the top and left edges count from 0 and the bottom and right ones from 1.
inline int residual_border_distance(int x, int y) {
    int d = x;
    if (64 - x < d) d = 64 - x;
    if (y < d) d = y;
    if (64 - y < d) d = 64 - y;
    return d;
}
