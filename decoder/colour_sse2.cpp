// YCbCr -> RGB with SSE2 packed doubles, bit-identical to the reference: the same
// double operations per lane, then max(v, 0) and min(v, 255) (NaN -> 0 through maxpd's operand
// rule) and truncation (cvttpd2dq), which equals truncating first and clamping afterwards.
#include "decoder/colour.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace {

inline __m128i to_bytes(__m128d v) {      // two lanes -> two int32 in the low half
    v = _mm_max_pd(v, _mm_setzero_pd());  // NaN -> 0 (second operand)
    v = _mm_min_pd(v, _mm_set1_pd(255.0));
    return _mm_cvttpd_epi32(v);
}

// Two pixels (lanes) -> two packed words in the low 64 bits.
inline __m128i pixels2(__m128d Y, __m128d Cb, __m128d Cr) {
    const __m128d kCrR = _mm_set1_pd(double(1.402f)), kCbG = _mm_set1_pd(double(0.34413f)),
                  kCrG = _mm_set1_pd(double(0.71414f)), kCbB = _mm_set1_pd(double(1.772f)),
                  kOff = _mm_set1_pd(double(128.0f));
    const __m128d r = _mm_add_pd(_mm_add_pd(_mm_mul_pd(kCrR, Cr), Y), kOff);
    const __m128d g =
        _mm_add_pd(_mm_sub_pd(Y, _mm_add_pd(_mm_mul_pd(kCbG, Cb), _mm_mul_pd(kCrG, Cr))), kOff);
    const __m128d b = _mm_add_pd(_mm_add_pd(_mm_mul_pd(kCbB, Cb), Y), kOff);
    return _mm_or_si128(_mm_or_si128(to_bytes(r), _mm_slli_epi32(to_bytes(g), 8)),
                        _mm_slli_epi32(to_bytes(b), 16));
}

}  // namespace

void ycbcr_to_rgb_tile_sse2(const float* y, const float* cb, const float* cr, uint8_t* out,
                            int stride) {
    for (int row = 0; row < 64; ++row) {
        uint8_t* dst = out + row * stride;
        const int base = row * 64;
        for (int col = 0; col < 64; col += 4) {
            const __m128 Y = _mm_loadu_ps(y + base + col);
            const __m128 Cb = _mm_loadu_ps(cb + base + col);
            const __m128 Cr = _mm_loadu_ps(cr + base + col);
            const __m128i lo = pixels2(_mm_cvtps_pd(Y), _mm_cvtps_pd(Cb), _mm_cvtps_pd(Cr));
            const __m128i hi =
                pixels2(_mm_cvtps_pd(_mm_movehl_ps(Y, Y)), _mm_cvtps_pd(_mm_movehl_ps(Cb, Cb)),
                        _mm_cvtps_pd(_mm_movehl_ps(Cr, Cr)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * col), _mm_unpacklo_epi64(lo, hi));
        }
    }
}

#endif  // __SSE2__
