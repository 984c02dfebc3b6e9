// YCbCr -> RGB into 4-byte pixels. Float rule: see colour.h.
#include "decoder/colour.h"

#include "decoder/kernels.h"
#include "store/raw_image.h"

namespace {
// The matrix constants are 32-bit floats; the arithmetic is in double.
constexpr double kCrR = double(1.402f);
constexpr double kCbG = double(0.34413f);
constexpr double kCrG = double(0.71414f);
constexpr double kCbB = double(1.772f);
constexpr double kOffset = double(128.0f);
}  // namespace

void ycbcr_to_rgb_tile_reference(const float* y, const float* cb, const float* cr, uint8_t* out,
                                 int stride) {
    for (int row = 0; row < 64; ++row) {
        uint8_t* px = out + row * stride;
        for (int col = 0; col < 64; ++col, px += 4) {
            const int i = row * 64 + col;
            const double Y = y[i], Cb = cb[i], Cr = cr[i];
            px[0] = component_to_byte((kCrR * Cr + Y) + kOffset);
            px[1] = component_to_byte((Y - (kCbG * Cb + kCrG * Cr)) + kOffset);
            px[2] = component_to_byte((kCbB * Cb + Y) + kOffset);
            px[3] = 0;
        }
    }
}

void ycbcr_to_rgb_tile(const float* y, const float* cb, const float* cr, uint8_t* out, int stride) {
    decoder_kernels().ycbcr_to_rgb(y, cb, cr, out, stride);
}

void ycbcr_to_rgb(const float* y, const float* cb, const float* cr, RawImage& image) {
    if (image.data == nullptr) return;
    ycbcr_to_rgb_tile(y, cb, cr, image.data, image.stride > 0 ? image.stride : 256);
}
