// The tile prediction's doubling step and the residual addition with SSE2: 16-bit lanes with
// the same integer steps as the plain forms in synth.cpp, so every byte is the same. x86-64
// builds only.
#include "render/synth.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

namespace {

constexpr int kTap = 39;  // block pixels -1..37 in each direction
constexpr int kLanes = 4;
constexpr int kTargetStride = kSynthSize * 4;

inline int clamp_to(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// The block as 16-bit lanes, one row of 39 pixels x 4 channels per row (channel 3 zero), with
// row and column index 0 standing for block position -1.
struct Block {
    alignas(16) int16_t g[kTap][kTap * kLanes + 4];
    // 9 * (b(N) + b(N + 1)) - b(N - 1) - b(N + 2) for N = 0..35, kept unshifted (-510..4590) so
    // that the odd-odd case can apply the vertical taps to it and shift once at the end.
    alignas(16) int16_t hx[kTap][36 * kLanes];
};

void gather(const uint8_t* src, int w, int h, int stride, int bpp, int ox, int oz, Block& b) {
    const bool inside = ox - 1 >= 0 && oz - 1 >= 0 && ox + 37 < w && oz + 37 < h;
    if (inside && bpp == 4) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i keep = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
        for (int j = 0; j < kTap; ++j) {
            const uint8_t* row = src + size_t(oz - 1 + j) * stride + size_t(ox - 1) * 4;
            int16_t* out = b.g[j];
            // 19 pairs of pixels and the 39th pixel on its own.
            for (int i = 0; i < 38; i += 2) {
                const __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + i * 4));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i * 4),
                                 _mm_and_si128(_mm_unpacklo_epi8(p, zero), keep));
            }
            const uint8_t* last = row + 38 * 4;
            out[38 * 4 + 0] = last[0];
            out[38 * 4 + 1] = last[1];
            out[38 * 4 + 2] = last[2];
            out[38 * 4 + 3] = 0;
        }
        return;
    }
    int cols[kTap];
    for (int i = 0; i < kTap; ++i) cols[i] = clamp_to(ox - 1 + i, 0, w - 1) * bpp;
    for (int j = 0; j < kTap; ++j) {
        const uint8_t* row = src + size_t(clamp_to(oz - 1 + j, 0, h - 1)) * stride;
        int16_t* out = b.g[j];
        for (int i = 0; i < kTap; ++i) {
            const uint8_t* p = row + cols[i];
            out[i * 4 + 0] = p[0];
            out[i * 4 + 1] = p[1];
            out[i * 4 + 2] = p[2];
            out[i * 4 + 3] = 0;
        }
    }
}

inline __m128i load16(const int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

void horizontal_taps(Block& b) {
    const __m128i nine = _mm_set1_epi16(9);
    for (int j = 0; j < kTap; ++j) {
        const int16_t* g = b.g[j];
        int16_t* out = b.hx[j];
        for (int n = 0; n < 36; n += 2) {
            // Block position N lives at array pixel N + 1.
            const __m128i m1 = load16(g + (n + 0) * 4);
            const __m128i p0 = load16(g + (n + 1) * 4);
            const __m128i p1 = load16(g + (n + 2) * 4);
            const __m128i p2 = load16(g + (n + 3) * 4);
            const __m128i s =
                _mm_sub_epi16(_mm_mullo_epi16(_mm_add_epi16(p0, p1), nine), _mm_add_epi16(m1, p2));
            _mm_store_si128(reinterpret_cast<__m128i*>(out + n * 4), s);
        }
    }
}

// Target rows 2M and 2M + 1 from block rows M - 1..M + 2 (array rows M..M + 3).
void emit_rows(const Block& b, int M, uint8_t* even_row, uint8_t* odd_row) {
    const __m128i nine16 = _mm_set1_epi16(9);
    const __m128i nine_pairs = _mm_set1_epi16(9);
    const __m128i minus_pairs = _mm_set1_epi16(-1);
    const int16_t* gm = b.g[M];
    const int16_t* g0 = b.g[M + 1];
    const int16_t* g1 = b.g[M + 2];
    const int16_t* g2 = b.g[M + 3];
    const int16_t* hm = b.hx[M];
    const int16_t* h0 = b.hx[M + 1];
    const int16_t* h1 = b.hx[M + 2];
    const int16_t* h2 = b.hx[M + 3];
    for (int n = 0; n < 36; n += 2) {
        const int gi = (n + 1) * 4;  // block pixel N
        const int hi = n * 4;
        // Even row: even columns copy the block, odd columns take the horizontal taps.
        const __m128i e = load16(g0 + gi);
        const __m128i o = _mm_srai_epi16(load16(h0 + hi), 4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(even_row + n * 8),
                         _mm_packus_epi16(_mm_unpacklo_epi64(e, o), _mm_unpackhi_epi64(e, o)));
        // Odd row, even columns: vertical taps on the block.
        const __m128i v =
            _mm_srai_epi16(_mm_sub_epi16(_mm_mullo_epi16(_mm_add_epi16(e, load16(g1 + gi)), nine16),
                                         _mm_add_epi16(load16(gm + gi), load16(g2 + gi))),
                           4);
        // Odd row, odd columns: vertical taps on the unshifted horizontal sums, in 32 bits
        // (81 * I reaches 82620), with the single shift by 8 at the end.
        const __m128i a0 = load16(h0 + hi), a1 = load16(h1 + hi);
        const __m128i c0 = load16(hm + hi), c1 = load16(h2 + hi);
        const __m128i lo =
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a0, a1), nine_pairs),
                                         _mm_madd_epi16(_mm_unpacklo_epi16(c0, c1), minus_pairs)),
                           8);
        const __m128i hi32 =
            _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a0, a1), nine_pairs),
                                         _mm_madd_epi16(_mm_unpackhi_epi16(c0, c1), minus_pairs)),
                           8);
        const __m128i oo = _mm_packs_epi32(lo, hi32);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(odd_row + n * 8),
                         _mm_packus_epi16(_mm_unpacklo_epi64(v, oo), _mm_unpackhi_epi64(v, oo)));
    }
}

}  // namespace

void upsample_step_sse2(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                        uint8_t* target) {
    // 24 KB of scratch on the stack keeps the step reentrant: the data set builder predicts
    // tiles on several threads at once.
    Block block;
    gather(source, w, h, stride, bpp, ox, oz, block);
    horizontal_taps(block);
    for (int M = 0; M < 36; ++M)
        emit_rows(block, M, target + size_t(2 * M) * kTargetStride,
                  target + size_t(2 * M + 1) * kTargetStride);
}

void add_residual_tile_sse2(const uint8_t* pred, int ps, const uint8_t* res, int rs, uint8_t* out,
                            int os) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i zp = _mm_set_epi16(0, 127, 127, 127, 0, 127, 127, 127);
    const __m128i keep = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    for (int y = 0; y < 64; ++y) {
        const uint8_t* p = pred + y * ps;
        const uint8_t* r = res + y * rs;
        uint8_t* o = out + y * os;
        if (y < 3 || y > 61) {
            for (int x = 0; x < 64; ++x)
                residual_pixel(p + x * 4, r + x * 4, o + x * 4, residual_border_distance(x, y));
            continue;
        }
        // Inside the damped border the residual is added in full: p + r - 127, clamped.
        for (int x = 0; x < 64; x += 4) {
            const __m128i pv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x * 4));
            const __m128i rv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x * 4));
            const __m128i lo = _mm_and_si128(
                _mm_sub_epi16(
                    _mm_add_epi16(_mm_unpacklo_epi8(pv, zero), _mm_unpacklo_epi8(rv, zero)), zp),
                keep);
            const __m128i hi = _mm_and_si128(
                _mm_sub_epi16(
                    _mm_add_epi16(_mm_unpackhi_epi8(pv, zero), _mm_unpackhi_epi8(rv, zero)), zp),
                keep);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x * 4), _mm_packus_epi16(lo, hi));
        }
        for (int x : {0, 1, 2, 62, 63})
            residual_pixel(p + x * 4, r + x * 4, o + x * 4, residual_border_distance(x, y));
    }
}

#endif  // __SSE2__
