// Inverse 5/3 lifting transform with SSE2 packed doubles. Bit-identical to
// inverse_wavelet_reference: every expression is the same double operation sequence (two lanes at
// a time) followed by the same rounding to float (cvtpd2ps, round to nearest). The symmetric
// extensions use the identities stated in lifting_ops.h.
#include "decoder/lifting.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

void inverse_wavelet_level_reference(float* P, int n);  // lifting.cpp

namespace {

// Four floats as two double pairs.
struct D4 {
    __m128d lo, hi;
};
inline D4 widen(__m128 x) {
    return {_mm_cvtps_pd(x), _mm_cvtps_pd(_mm_movehl_ps(x, x))};
}
inline __m128 narrow(const D4& x) {
    return _mm_movelh_ps(_mm_cvtpd_ps(x.lo), _mm_cvtpd_ps(x.hi));
}

// s - ((dl + d) + 2) * 0.25, rounded to float.
inline __m128 update4(__m128 s, __m128 dl, __m128 d) {
    const __m128d two = _mm_set1_pd(2.0), quarter = _mm_set1_pd(0.25);
    const D4 S = widen(s), L = widen(dl), R = widen(d);
    D4 out;
    out.lo = _mm_sub_pd(S.lo, _mm_mul_pd(_mm_add_pd(_mm_add_pd(L.lo, R.lo), two), quarter));
    out.hi = _mm_sub_pd(S.hi, _mm_mul_pd(_mm_add_pd(_mm_add_pd(L.hi, R.hi), two), quarter));
    return narrow(out);
}
// d + (s + sn) * 0.5, rounded to float.
inline __m128 predict4(__m128 d, __m128 s, __m128 sn) {
    const __m128d half = _mm_set1_pd(0.5);
    const D4 Dd = widen(d), A = widen(s), B = widen(sn);
    D4 out;
    out.lo = _mm_add_pd(Dd.lo, _mm_mul_pd(_mm_add_pd(A.lo, B.lo), half));
    out.hi = _mm_add_pd(Dd.hi, _mm_mul_pd(_mm_add_pd(A.hi, B.hi), half));
    return narrow(out);
}

// Columns of the n x n block of P (n >= 8), lifted across four columns at a time; the result,
// rows interleaved, goes to `out` (stride 64).
void columns(const float* P, float* out, int n) {
    const int h = n / 2;
    for (int c = 0; c < n; c += 4) {
        __m128 dprev = _mm_loadu_ps(P + h * 64 + c);  // d[-1] = d[0]
        __m128 sprev = _mm_setzero_ps();
        for (int k = 0; k < h; ++k) {
            const __m128 dk = _mm_loadu_ps(P + (h + k) * 64 + c);
            const __m128 sk = update4(_mm_loadu_ps(P + k * 64 + c), dprev, dk);
            _mm_storeu_ps(out + (2 * k) * 64 + c, sk);
            if (k > 0) _mm_storeu_ps(out + (2 * k - 1) * 64 + c, predict4(dprev, sprev, sk));
            sprev = sk;
            dprev = dk;
        }
        _mm_storeu_ps(out + (2 * h - 1) * 64 + c, predict4(dprev, sprev, sprev));  // s[h] = s[h-1]
    }
}

// Rows of the n x n block (n >= 8) from `in` (stride 64) into P, interleaved.
void rows(const float* in, float* P, int n) {
    const int h = n / 2;
    alignas(16) float sp[36];
    for (int r = 0; r < n; ++r) {
        const float* s = in + r * 64;
        const float* d = s + h;
        // Update, four at a time; the first group takes d[-1] = d[0].
        __m128 d4 = _mm_loadu_ps(d);
        _mm_store_ps(sp,
                     update4(_mm_loadu_ps(s), _mm_shuffle_ps(d4, d4, _MM_SHUFFLE(2, 1, 0, 0)), d4));
        for (int k = 4; k < h; k += 4)
            _mm_store_ps(
                sp + k, update4(_mm_loadu_ps(s + k), _mm_loadu_ps(d + k - 1), _mm_loadu_ps(d + k)));
        sp[h] = sp[h - 1];  // s[h] = s[h-1]
        // Predict and interleave.
        float* dst = P + r * 64;
        for (int k = 0; k < h; k += 4) {
            const __m128 s4 = _mm_load_ps(sp + k);
            const __m128 dn = predict4(_mm_loadu_ps(d + k), s4, _mm_loadu_ps(sp + k + 1));
            _mm_storeu_ps(dst + 2 * k, _mm_unpacklo_ps(s4, dn));
            _mm_storeu_ps(dst + 2 * k + 4, _mm_unpackhi_ps(s4, dn));
        }
    }
}

}  // namespace

void inverse_wavelet_sse2(float* plane) {
    alignas(16) float tmp[64 * 64];
    inverse_wavelet_level_reference(plane, 2);
    inverse_wavelet_level_reference(plane, 4);
    for (int n = 8; n <= 64; n *= 2) {
        columns(plane, tmp, n);
        rows(tmp, plane, n);
    }
}

#endif  // __SSE2__
