#include "render/synth.h"

#include <emmintrin.h>

#include <cstring>

#include "app/settings.h"
#include "render/view.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

namespace {

constexpr int kTap = 39;  // block pixels -1..37 in each direction
constexpr int kLanes = 4;
constexpr int kTargetStride = kSynthSize * 4;

inline int clamp_byte(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}
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

void upsample_step(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
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

void upsample_step_plain(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                         uint8_t* target) {
    auto b = [&](int i, int j, int c) {
        const int x = clamp_to(ox + i, 0, w - 1);
        const int y = clamp_to(oz + j, 0, h - 1);
        return int(source[size_t(y) * stride + size_t(x) * bpp + c]);
    };
    for (int y = 0; y < kSynthSize; ++y) {
        for (int x = 0; x < kSynthSize; ++x) {
            const int N = x >> 1, M = y >> 1;
            for (int c = 0; c < 3; ++c) {
                int v;
                if (!(x & 1) && !(y & 1)) {
                    v = b(N, M, c);
                } else if (!(y & 1)) {
                    v = (9 * (b(N, M, c) + b(N + 1, M, c)) - b(N - 1, M, c) - b(N + 2, M, c)) >> 4;
                } else if (!(x & 1)) {
                    v = (9 * (b(N, M, c) + b(N, M + 1, c)) - b(N, M - 1, c) - b(N, M + 2, c)) >> 4;
                } else {
                    int I = 0, E = 0, C = 0;
                    for (int j = M - 1; j <= M + 2; ++j) {
                        for (int i = N - 1; i <= N + 2; ++i) {
                            const bool inner_i = i == N || i == N + 1;
                            const bool inner_j = j == M || j == M + 1;
                            if (inner_i && inner_j)
                                I += b(i, j, c);
                            else if (!inner_i && !inner_j)
                                C += b(i, j, c);
                            else
                                E += b(i, j, c);
                        }
                    }
                    v = (81 * I - 9 * E + C) >> 8;
                }
                target[size_t(y) * kTargetStride + size_t(x) * 4 + c] = uint8_t(clamp_byte(v));
            }
        }
    }
}

const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd) {
    // Parities from the finest level down; afterwards (tc, tr) is the level-2 ancestor.
    int px[6] = {0}, py[6] = {0};
    for (int l = L; l >= 3; --l) {
        px[l] = tc & 1;
        py[l] = tr & 1;
        tc >>= 1;
        tr >>= 1;
    }
    auto* const step = render_plain_paths ? upsample_step_plain : upsample_step;
    step(base.data, base.w, base.h, base.stride, base.bpp, 32 * tc - 2, 32 * tr - 2, even);
    for (int l = 3; l <= L; ++l) {
        const uint8_t* from = (l & 1) ? even : odd;
        uint8_t* to = (l & 1) ? odd : even;
        step(from, kSynthSize, kSynthSize, kSynthSize * 4, 4, 2 + 32 * px[l], 2 + 32 * py[l], to);
    }
    return (L & 1) ? odd : even;
}

const RawImage& synthesise_tile(int s, int tc, int tr, int L) {
    synthesise_tile_into(base_tex[s], tc, tr, L, synth_a.data, synth_b.data);
    return (L & 1) ? synth_b : synth_a;
}

int residual_value(int p, int r, int d) {
    // The residual's zero point is 127; the outermost three rows and columns are damped, more
    // strongly on the top and left edges (d counts 0 only there).
    const int q = r - 127;
    int v;
    switch (d) {
        case 0:
            v = p + (q >> 1);
            break;
        case 1:
            v = p + (2 * q) / 3;
            break;
        case 2:
            v = p + (4 * q) / 5;
            break;
        default:
            v = p + q;
            break;
    }
    return clamp_byte(v);
}

namespace {

void residual_pixel(const uint8_t* p, const uint8_t* r, uint8_t* out, int d) {
    for (int c = 0; c < 3; ++c) out[c] = uint8_t(residual_value(p[c], r[c], d));
    out[3] = 0;
}

}  // namespace

void add_residual(const RawImage& prediction) {
    const uint8_t* pred = prediction.data + kSynthMargin * prediction.stride + kSynthMargin * 4;
    const int ps = prediction.stride;
    uint8_t* out = final_tile.data;
    const int os = final_tile.stride;
    if (!viewer_settings.compressedResidue) {
        for (int y = 0; y < 64; ++y) memcpy(out + y * os, pred + y * ps, 64 * 4);
        return;
    }
    const uint8_t* res = residual_tile.data;
    const int rs = residual_tile.stride;
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

void add_residual_plain(const RawImage& prediction) {
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const uint8_t* p =
                prediction.data + (y + kSynthMargin) * prediction.stride + (x + kSynthMargin) * 4;
            uint8_t* o = final_tile.data + y * final_tile.stride + x * 4;
            if (!viewer_settings.compressedResidue) {
                for (int c = 0; c < 3; ++c) o[c] = p[c];
                continue;
            }
            const uint8_t* r = residual_tile.data + y * residual_tile.stride + x * 4;
            for (int c = 0; c < 3; ++c)
                o[c] = uint8_t(residual_value(p[c], r[c], residual_border_distance(x, y)));
        }
    }
}
