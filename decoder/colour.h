#pragma once
// YCbCr -> RGB conversion of a decoded tile into 4-byte pixels. Pixel maths only.
//
// Per position, in double precision with the 32-bit float constants 1.402, 0.34413, 0.71414,
// 1.772 and 128.0, in this order of evaluation:
//   red   = (1.402 * Cr + Y) + 128
//   green = (Y - (0.34413 * Cb + 0.71414 * Cr)) + 128
//   blue  = (1.772 * Cb + Y) + 128
// each truncated toward zero to an integer, then clamped to 0..255 (NaN gives 0). Byte 3 is 0.
// Compiled with -ffp-contract=off. All variants are bit-identical to the reference.
#include <cstdint>
struct RawImage;

// Converts 64 x 64 planes into `out`: 64 rows of 64 four-byte pixels, rows `stride` bytes apart.
// The viewer's kernel: the kernel table's variant (decoder/kernels.h).
void ycbcr_to_rgb_tile(const float* y, const float* cb, const float* cr, uint8_t* out, int stride);
void ycbcr_to_rgb_tile_reference(const float* y, const float* cb, const float* cr, uint8_t* out,
                                 int stride);
void ycbcr_to_rgb_tile_sse2(const float* y, const float* cb, const float* cr, uint8_t* out,
                            int stride);
void ycbcr_to_rgb_tile_avx2(const float* y, const float* cb, const float* cr, uint8_t* out,
                            int stride);  // only where detect_cpu_features().avx2

// interface: writes the 64 x 64 pixels of `image` (its data, stride image.stride).
void ycbcr_to_rgb(const float* y, const float* cb, const float* cr, RawImage& image);

// One component value -> byte: truncation toward zero, then clamping (exposed for tests).
inline uint8_t component_to_byte(double v) {
    if (v >= 255.0) return 255;
    if (v > 0.0) return static_cast<uint8_t>(static_cast<int>(v));
    return 0;  // negative, zero or NaN
}
