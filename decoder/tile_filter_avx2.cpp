// The tile filter's row kernel with AVX2: sixteen pixels at a time, each tap pair's two pixels
// summed in 16 bits (at most 510) and multiplied and added in pairs into 32 bits (vpmaddwd:
// centre and left/right, up/down and "\", "/" and the rounding), then shifted, packed and
// clamped as the reference does; bit-identical to it. Only called when the CPU reports AVX2
// (kernels.cpp).
#include "decoder/tile_filter_row.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define QV_AVX2 __attribute__((target("avx2")))

namespace {

QV_AVX2 inline __m256i load(const int16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Two 16-bit taps side by side in each 32-bit lane, the first in the low half.
QV_AVX2 inline __m256i pair(int lo, int hi) {
    return _mm256_set1_epi32(
        int32_t(uint32_t(uint16_t(int16_t(lo))) | uint32_t(uint16_t(int16_t(hi))) << 16));
}

}  // namespace

QV_AVX2 void tile_filter_row_avx2(const int8_t* taps, const int16_t* above, const int16_t* mid,
                                  const int16_t* below, int w, int16_t* out) {
    const int t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
    const int centre = kTileFilterOne - 2 * (t0 + t1 + t2 + t3);
    const __m256i c_m = pair(centre, t0), c_ab = pair(t1, t2), c_r = pair(t3, kTileFilterOne / 2);
    const __m256i one = _mm256_set1_epi16(1), zero = _mm256_setzero_si256(),
                  top = _mm256_set1_epi16(255);
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i m = load(mid + x);
        const __m256i s0 = _mm256_add_epi16(load(mid + x - 1), load(mid + x + 1));
        const __m256i s1 = _mm256_add_epi16(load(above + x), load(below + x));
        const __m256i s2 = _mm256_add_epi16(load(above + x - 1), load(below + x + 1));
        const __m256i s3 = _mm256_add_epi16(load(above + x + 1), load(below + x - 1));
        // Interleaving within each 128-bit lane, and packing back the same way, keeps the order.
        const __m256i lo = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(m, s0), c_m),
                             _mm256_madd_epi16(_mm256_unpacklo_epi16(s1, s2), c_ab)),
            _mm256_madd_epi16(_mm256_unpacklo_epi16(s3, one), c_r));
        const __m256i hi = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(m, s0), c_m),
                             _mm256_madd_epi16(_mm256_unpackhi_epi16(s1, s2), c_ab)),
            _mm256_madd_epi16(_mm256_unpackhi_epi16(s3, one), c_r));
        // |acc| >> 7 stays within 16 bits (the taps are 8-bit), so the saturating pack is exact.
        __m256i v = _mm256_packs_epi32(_mm256_srai_epi32(lo, 7), _mm256_srai_epi32(hi, 7));
        v = _mm256_min_epi16(_mm256_max_epi16(v, zero), top);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), v);
    }
    if (x < w) tile_filter_row_body(taps, above + x, mid + x, below + x, w - x, out + x);
}
#endif
