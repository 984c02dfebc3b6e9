// YCbCr -> RGB with AVX2 (four packed doubles), bit-identical to the reference like the
// SSE2 version (same double operations per lane, max/min with NaN -> 0, truncation). Compiled for
// AVX2 through function attributes; only called when the CPU reports AVX2 (kernels.cpp).
#include "decoder/colour.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define QV_AVX2 __attribute__((target("avx2")))

namespace {

QV_AVX2 inline __m128i to_bytes(__m256d v) {    // four lanes -> four int32
    v = _mm256_max_pd(v, _mm256_setzero_pd());  // NaN -> 0 (second operand)
    v = _mm256_min_pd(v, _mm256_set1_pd(255.0));
    return _mm256_cvttpd_epi32(v);
}

}  // namespace

QV_AVX2 void ycbcr_to_rgb_tile_avx2(const float* y, const float* cb, const float* cr, uint8_t* out,
                                    int stride) {
    const __m256d kCrR = _mm256_set1_pd(double(1.402f)), kCbG = _mm256_set1_pd(double(0.34413f)),
                  kCrG = _mm256_set1_pd(double(0.71414f)), kCbB = _mm256_set1_pd(double(1.772f)),
                  kOff = _mm256_set1_pd(double(128.0f));
    for (int row = 0; row < 64; ++row) {
        uint8_t* dst = out + row * stride;
        const int base = row * 64;
        for (int col = 0; col < 64; col += 4) {
            const __m256d Y = _mm256_cvtps_pd(_mm_loadu_ps(y + base + col));
            const __m256d Cb = _mm256_cvtps_pd(_mm_loadu_ps(cb + base + col));
            const __m256d Cr = _mm256_cvtps_pd(_mm_loadu_ps(cr + base + col));
            const __m256d r = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(kCrR, Cr), Y), kOff);
            const __m256d g = _mm256_add_pd(
                _mm256_sub_pd(Y, _mm256_add_pd(_mm256_mul_pd(kCbG, Cb), _mm256_mul_pd(kCrG, Cr))),
                kOff);
            const __m256d b = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(kCbB, Cb), Y), kOff);
            const __m128i px =
                _mm_or_si128(_mm_or_si128(to_bytes(r), _mm_slli_epi32(to_bytes(g), 8)),
                             _mm_slli_epi32(to_bytes(b), 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * col), px);
        }
    }
}

#endif
