// Forward 5/3 lifting: the algebraic inverse of inverse_wavelet (pixel maths).
// Float rule as in the decoder: each expression in double, stored as a 32-bit float, no fused
// multiply-add (-ffp-contract=off).
#include <cstring>

#include "encoder/encoder.h"

namespace {

// Undoes inverse_lift_line: first the predict step (with the updated s, which are the even
// samples), then the update step (with the recovered d), both with the same symmetric extension.
void forward_lift_line(float* s, float* d, int h) {
    for (int k = 0; k + 1 < h; ++k)
        d[k] = float(double(d[k]) - (double(s[k]) + double(s[k + 1])) * 0.5);
    d[h - 1] = float(double(d[h - 1]) - double(s[h - 1]));
    s[0] = float(double(s[0]) + (double(d[0]) + 1.0) * 0.5);
    for (int k = 1; k < h; ++k)
        s[k] = float(double(s[k]) + ((double(d[k - 1]) + double(d[k])) + 2.0) * 0.25);
}

}  // namespace

void forward_wavelet(float* P) {
    float s[32], d[32];
    for (int n = 64; n >= 2; n /= 2) {
        const int h = n / 2;
        for (int r = 0; r < n; ++r) {  // rows: even samples -> low half, odd -> high half
            float* row = P + r * 64;
            for (int k = 0; k < h; ++k) {
                s[k] = row[2 * k];
                d[k] = row[2 * k + 1];
            }
            forward_lift_line(s, d, h);
            std::memcpy(row, s, sizeof(float) * size_t(h));
            std::memcpy(row + h, d, sizeof(float) * size_t(h));
        }
        for (int c = 0; c < n; ++c) {  // then columns
            for (int k = 0; k < h; ++k) {
                s[k] = P[(2 * k) * 64 + c];
                d[k] = P[(2 * k + 1) * 64 + c];
            }
            forward_lift_line(s, d, h);
            for (int k = 0; k < h; ++k) {
                P[k * 64 + c] = s[k];
                P[(h + k) * 64 + c] = d[k];
            }
        }
    }
}
