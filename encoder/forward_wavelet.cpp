// Forward 5/3 lifting: the algebraic inverse of inverse_wavelet (pixel maths).
// Float rule as in the decoder: each expression in double, stored as a 32-bit float, no fused
// multiply-add (-ffp-contract=off).
//
// Every line of a level is lifted at once, sample by sample across the lines, so the inner loops
// run over independent lines and the compiler vectorises them. Each lane still evaluates exactly
// the per-line expression (same operations, same order, no contraction), so the result is the
// same bit for bit as lifting one line at a time. Rows are lifted by transposing the level's
// block, lifting it as columns and transposing back.
#include <cstring>
#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "encoder/clones.h"
#include "encoder/encoder.h"

namespace {

constexpr int kSide = 64;

// Lifts the first n columns of the n x n block src (row stride 64) into dst (row stride 64):
// even rows give the low half (rows 0..h-1), odd rows the high half (rows h..n-1). Undoes
// inverse_lift_line: first the predict step (with the even samples), then the update step (with
// the recovered odd samples), both with the same symmetric extension.
QV_CLONES void lift_columns(const float* __restrict src, float* __restrict dst, int n) {
    const int h = n / 2;
    float* __restrict lo = dst;
    float* __restrict hi = dst + h * kSide;
    for (int k = 0; k + 1 < h; ++k) {
        const float* s0 = src + (2 * k) * kSide;
        const float* d0 = src + (2 * k + 1) * kSide;
        const float* s1 = src + (2 * k + 2) * kSide;
        float* o = hi + k * kSide;
        for (int c = 0; c < n; ++c)
            o[c] = float(double(d0[c]) - (double(s0[c]) + double(s1[c])) * 0.5);
    }
    {
        const float* s0 = src + (2 * h - 2) * kSide;
        const float* d0 = src + (2 * h - 1) * kSide;
        float* o = hi + (h - 1) * kSide;
        for (int c = 0; c < n; ++c) o[c] = float(double(d0[c]) - double(s0[c]));
    }
    for (int c = 0; c < n; ++c) lo[c] = float(double(src[c]) + (double(hi[c]) + 1.0) * 0.5);
    for (int k = 1; k < h; ++k) {
        const float* s0 = src + (2 * k) * kSide;
        const float* dp = hi + (k - 1) * kSide;
        const float* dk = hi + k * kSide;
        float* o = lo + k * kSide;
        for (int c = 0; c < n; ++c)
            o[c] = float(double(s0[c]) + ((double(dp[c]) + double(dk[c])) + 2.0) * 0.25);
    }
}

// dst[c][r] = src[r][c] over the n x n block, both with row stride 64. Moves bits only, so
// the 4 x 4 register transposes give exactly what the element loop gives.
void transpose(const float* __restrict src, float* __restrict dst, int n) {
#if defined(__SSE2__)
    if (n % 4 == 0) {
        for (int r = 0; r < n; r += 4)
            for (int c = 0; c < n; c += 4) {
                __m128 a = _mm_loadu_ps(src + r * kSide + c);
                __m128 b = _mm_loadu_ps(src + (r + 1) * kSide + c);
                __m128 x = _mm_loadu_ps(src + (r + 2) * kSide + c);
                __m128 d = _mm_loadu_ps(src + (r + 3) * kSide + c);
                _MM_TRANSPOSE4_PS(a, b, x, d);
                _mm_storeu_ps(dst + c * kSide + r, a);
                _mm_storeu_ps(dst + (c + 1) * kSide + r, b);
                _mm_storeu_ps(dst + (c + 2) * kSide + r, x);
                _mm_storeu_ps(dst + (c + 3) * kSide + r, d);
            }
        return;
    }
#endif
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) dst[c * kSide + r] = src[r * kSide + c];
}

void copy_block(const float* __restrict src, float* __restrict dst, int n) {
    for (int r = 0; r < n; ++r)
        std::memcpy(dst + r * kSide, src + r * kSide, sizeof(float) * size_t(n));
}

}  // namespace

void forward_wavelet(float* P) {
    alignas(32) float a[kSide * kSide];
    alignas(32) float b[kSide * kSide];
    for (int n = kSide; n >= 2; n /= 2) {
        // Rows: even samples -> low half, odd -> high half.
        transpose(P, a, n);
        lift_columns(a, b, n);
        transpose(b, a, n);
        // Then columns.
        lift_columns(a, b, n);
        copy_block(b, P, n);
    }
}
