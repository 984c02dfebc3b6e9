#pragma once
#include <cstdint>

#include "render/kernels.h"
#include "store/raw_image.h"

// Tile prediction: a tile of level L is its sub-image's base texture upsampled L - 1 times with
// the four-point (-1, 9, 9, -1) / 16 filter, each step making a 72 x 72 image (the 64 x 64 core
// at 4..67 plus a 4-pixel margin that feeds the next step).

constexpr int kSynthSize = 72;
constexpr int kSynthMargin = 4;

// One doubling step over plain arrays. The source has w x h pixels of `bpp` bytes (3 or 4;
// channels 0..2 are used) and rows `stride` bytes apart; the step reads source pixels
// (ox + i, oz + j) for i, j in -1..37, clamping coordinates to the source's edges, and writes all
// 72 x 72 pixels of `target` (4 bytes each, rows 288 bytes apart). Keeps no state: safe to call
// from several threads at once. This runs the kernel table's form.
void upsample_step(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                   uint8_t* target);

// The step computed literally, pixel by pixel with the 16-tap odd-odd case: the reference. It
// writes bytes 0..2 of each target pixel and leaves byte 3 as it was.
void upsample_step_plain(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                         uint8_t* target);
// The SSE2 form (x86-64 builds only); it writes byte 3 as 0. Bytes 0..2 equal the reference's.
void upsample_step_sse2(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                        uint8_t* target);

// Predicts tile (tc, tr) of level L (2..5) from `base` into caller-owned 72 x 72 x 4 buffers
// (`even` holds levels 2 and 4, `odd` levels 3 and 5) with the given step; returns the buffer
// holding the tile's prediction. Reentrant.
const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd, UpsampleFn step);
// The same with the kernel table's step.
const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd);

// Predicts tile (tc, tr) of sub-image s at level L (2..5) from base_tex[s] into synth_a (L even)
// or synth_b (L odd); returns that image. The viewer's single-threaded form.
const RawImage& synthesise_tile(int s, int tc, int tr, int L);

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

// One pixel of the residual addition: channels 0..2 corrected, byte 3 written as 0.
inline void residual_pixel(const uint8_t* p, const uint8_t* r, uint8_t* out, int d) {
    for (int c = 0; c < 3; ++c) out[c] = uint8_t(residual_value(p[c], r[c], d));
    out[3] = 0;
}

// out := the 64 x 64 pixels of `prediction` (its core: rows `prediction_stride` bytes apart)
// plus `residual` (zero point 127, attenuated in the three outermost rows and columns). The plain
// reference and the SSE2 form (x86-64 builds only); both write all four bytes of every pixel.
void add_residual_tile_plain(const uint8_t* prediction, int prediction_stride,
                             const uint8_t* residual, int residual_stride, uint8_t* out,
                             int out_stride);
void add_residual_tile_sse2(const uint8_t* prediction, int prediction_stride,
                            const uint8_t* residual, int residual_stride, uint8_t* out,
                            int out_stride);

// Copies the 64 x 64 core of a prediction unchanged (residuals off).
void copy_prediction_core(const uint8_t* core, int core_stride, uint8_t* out, int out_stride);

// final_tile := the 64 x 64 core of `prediction`, plus residual_tile when compressed residuals
// are on: the viewer's single-threaded form, with the kernel table's addition (add_residual) or
// the reference one (add_residual_plain).
void add_residual(const RawImage& prediction);
void add_residual_plain(const RawImage& prediction);
