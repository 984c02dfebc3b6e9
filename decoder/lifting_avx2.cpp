// Inverse 5/3 lifting transform with AVX2 (four packed doubles), bit-identical to
// inverse_wavelet_reference for the same reasons as the SSE2 version: the same double operations
// per lane in the same order, one rounding to float (vcvtpd2ps, round to nearest) per stored
// value, no fused multiply-add (FMA is not enabled for these functions, and the build uses
// -ffp-contract=off). Compiled for AVX2 through function attributes; only called when the CPU
// reports AVX2 (kernels.cpp).
#include "decoder/lifting.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

void inverse_wavelet_level_reference(float* P, int n);  // lifting.cpp

#define QV_AVX2 __attribute__((target("avx2")))

namespace {

// s - ((dl + d) + 2) * 0.25, rounded to float, four lanes.
QV_AVX2 inline __m128 update4(__m128 s, __m128 dl, __m128 d) {
    const __m256d S = _mm256_cvtps_pd(s), L = _mm256_cvtps_pd(dl), R = _mm256_cvtps_pd(d);
    const __m256d t = _mm256_mul_pd(_mm256_add_pd(_mm256_add_pd(L, R), _mm256_set1_pd(2.0)),
                                    _mm256_set1_pd(0.25));
    return _mm256_cvtpd_ps(_mm256_sub_pd(S, t));
}
// d + (s + sn) * 0.5, rounded to float, four lanes.
QV_AVX2 inline __m128 predict4(__m128 d, __m128 s, __m128 sn) {
    const __m256d Dd = _mm256_cvtps_pd(d), A = _mm256_cvtps_pd(s), B = _mm256_cvtps_pd(sn);
    return _mm256_cvtpd_ps(
        _mm256_add_pd(Dd, _mm256_mul_pd(_mm256_add_pd(A, B), _mm256_set1_pd(0.5))));
}

QV_AVX2 void columns(const float* P, float* out, int n) {
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

QV_AVX2 void rows(const float* in, float* P, int n) {
    const int h = n / 2;
    alignas(16) float sp[36];
    for (int r = 0; r < n; ++r) {
        const float* s = in + r * 64;
        const float* d = s + h;
        const __m128 d4 = _mm_loadu_ps(d);
        _mm_store_ps(sp,
                     update4(_mm_loadu_ps(s), _mm_shuffle_ps(d4, d4, _MM_SHUFFLE(2, 1, 0, 0)), d4));
        for (int k = 4; k < h; k += 4)
            _mm_store_ps(
                sp + k, update4(_mm_loadu_ps(s + k), _mm_loadu_ps(d + k - 1), _mm_loadu_ps(d + k)));
        sp[h] = sp[h - 1];
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

QV_AVX2 void inverse_wavelet_avx2(float* plane) {
    alignas(32) float tmp[64 * 64];
    inverse_wavelet_level_reference(plane, 2);
    inverse_wavelet_level_reference(plane, 4);
    for (int n = 8; n <= 64; n *= 2) {
        columns(plane, tmp, n);
        rows(tmp, plane, n);
    }
}

#endif
