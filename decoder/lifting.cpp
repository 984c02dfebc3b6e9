// Inverse 5/3 lifting transform, plain reference and the dispatching entry point.
// Float rule: see lifting.h (double evaluation, stored as float, no fused multiply-add).
#include "decoder/lifting.h"

#include <cstring>

#include "decoder/kernels.h"
#include "decoder/lifting_ops.h"

void inverse_lift_line(float* s, float* d, int h) {
    // 1. Update (d[-1] taken as d[0]).
    s[0] = lift_update_first(s[0], d[0]);
    for (int k = 1; k < h; ++k) s[k] = lift_update(s[k], d[k - 1], d[k]);
    // 2. Predict with the updated s (s[h] taken as s[h-1]).
    for (int k = 0; k + 1 < h; ++k) d[k] = lift_predict(d[k], s[k], s[k + 1]);
    d[h - 1] = lift_predict_last(d[h - 1], s[h - 1]);
}

// One level of the reference: the top-left n x n block, columns then rows. Each line is copied
// out, lifted and written back interleaved (s[k] to 2k, d[k] to 2k + 1), which is what the
// in-place interleave with lift_rows_tmp / lift_cols_tmp produces.
void inverse_wavelet_level_reference(float* P, int n) {
    const int h = n / 2;
    float s[32], d[32];
    for (int c = 0; c < n; ++c) {
        for (int k = 0; k < h; ++k) {
            s[k] = P[k * 64 + c];
            d[k] = P[(h + k) * 64 + c];
        }
        inverse_lift_line(s, d, h);
        for (int k = 0; k < h; ++k) {
            P[(2 * k) * 64 + c] = s[k];
            P[(2 * k + 1) * 64 + c] = d[k];
        }
    }
    for (int r = 0; r < n; ++r) {
        float* row = P + r * 64;
        std::memcpy(s, row, sizeof(float) * size_t(h));
        std::memcpy(d, row + h, sizeof(float) * size_t(h));
        inverse_lift_line(s, d, h);
        for (int k = 0; k < h; ++k) {
            row[2 * k] = s[k];
            row[2 * k + 1] = d[k];
        }
    }
}

void inverse_wavelet_reference(float* plane) {
    for (int n = 2; n <= 64; n *= 2) inverse_wavelet_level_reference(plane, n);
}

namespace {
struct ZeroPlane {
    float v[4096];
    ZeroPlane() {
        std::memset(v, 0, sizeof v);
        inverse_wavelet_reference(v);
    }
};
}  // namespace

const float* inverse_wavelet_of_zero() {
    static const ZeroPlane zero;
    return zero.v;
}

void inverse_wavelet(float* plane) {
    decoder_kernels().inverse_wavelet(plane);
}
