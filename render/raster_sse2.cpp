// The drawing kernels with SSE2: four 16-bit lanes per pixel, the same integer steps as
// lerp_pixel, so every pixel equals the plain kernels' (raster.cpp). x86-64 builds only.
#include "render/raster.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "render/raster_internal.h"
#include "render/view.h"
#include "store/raw_image.h"

using namespace raster;

namespace {

// a + ((2 * (b - a) * w) >> 16), which is a + floor((b - a) * w / 32768). For weights 0..32767
// the result lies between a and b; a negative weight (an image position just left of or above
// the image, which truncates onto pixel 0) extrapolates, so the caller saturates to bytes after
// every interpolation, exactly as lerp_pixel does.
inline __m128i lerp16(__m128i a, __m128i b, __m128i w) {
    __m128i d = _mm_sub_epi16(b, a);
    d = _mm_add_epi16(d, d);
    return _mm_add_epi16(a, _mm_mulhi_epi16(d, w));
}

inline __m128i load_pair(const uint32_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// out[x] for x in [x_begin, x_end): the vertical blend, with weight wv, of two horizontally
// blended rows (four 16-bit lanes per column, already saturated to bytes), packed to words.
void blend_rows(const int16_t* top, const int16_t* bottom, int16_t weight, int x_begin, int x_end,
                uint32_t* out) {
    const __m128i wv = _mm_set1_epi16(weight);
    auto blend = [&](int x) {
        return lerp16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 4 * x)),
                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 4 * x)), wv);
    };
    int x = x_begin;
    for (; x + 4 <= x_end; x += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_packus_epi16(blend(x), blend(x + 2)));
    for (; x < x_end; ++x) {
        const __m128i t = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(top + 4 * x));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bottom + 4 * x));
        out[x] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(lerp16(t, b, wv), t)));
    }
}

}  // namespace

void draw_tile_rows_sse2(const FrameRows& f, const TileCorners& c, const uint32_t* tile,
                         bool bilinear_on, DrawScratch& columns) {
    if (!corners_usable(c)) return;
    const int W = f.width;
    const TileSpan s = tile_span(c);
    if (s.iy0 > s.iy1) return;
    const int x_begin = s.ix0 > 0 ? s.ix0 : 0;
    const int x_end = s.ix1 < W ? s.ix1 : W;
    if (x_begin >= x_end) return;
    // Rows of this band: the tile's rows iy0..iy1 inside [y_begin, y_end) and the frame.
    int y_first = s.iy0;
    if (y_first < f.y_begin) y_first = f.y_begin;
    if (y_first < 0) y_first = 0;
    int y_stop = f.y_end < f.height ? f.y_end : f.height;
    if (s.iy1 < y_stop) y_stop = s.iy1 + 1;
    if (y_first >= y_stop) return;
    if (!columns.reserve(W)) return;

    // The horizontal positions are the same in every row: the accumulator restarts at 0.
    {
        float u = 0.0f;
        for (int x = s.ix0; x < x_end; ++x) {
            if (x >= 0) {
                const int tu = clamp_tile(u);
                columns.offset[x] = tu;
                const int16_t w = int16_t(bilinear_on && tu < 63 ? weight_of(u, tu) : 0);
                for (int k = 0; k < 4; ++k) columns.wide[4 * x + k] = w;
            }
            u += s.du;
        }
    }

    // Bilinear sampling is separable: the horizontal blend of a tile row depends only on the
    // column, so each tile row is blended once for all screen columns and reused by every screen
    // row that samples it (as the upper or the lower row). The two blends go through the same
    // 16-bit lanes as lerp_pixel, so the pixels are identical. The weights are never negative
    // here (u and v start at 0 and grow), so no intermediate needs saturating.
    int cached[2] = {-1, -1};
    auto blend_row = [&](int tile_row) {
        int16_t* dst = columns.rows[tile_row & 1];
        cached[tile_row & 1] = tile_row;
        const uint32_t* src = tile + tile_row * kPaddedTileStride;
        const __m128i zero = _mm_setzero_si128();
        int x = x_begin;
        for (; x + 2 <= x_end; x += 2) {
            const __m128i p = _mm_unpacklo_epi32(load_pair(src + columns.offset[x]),
                                                 load_pair(src + columns.offset[x + 1]));
            const __m128i w =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns.wide + 4 * x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x),
                             lerp16(_mm_unpacklo_epi8(p, zero), _mm_unpackhi_epi8(p, zero), w));
        }
        if (x < x_end) {
            const __m128i p = _mm_unpacklo_epi8(load_pair(src + columns.offset[x]), zero);
            const __m128i w =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(columns.wide + 4 * x));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 4 * x),
                             lerp16(p, _mm_unpackhi_epi64(p, p), w));
        }
    };

    // The vertical position accumulates from the tile's first row, whichever band this is.
    float v = 0.0f;
    for (int y = s.iy0; y < y_first; ++y) v += s.dv;
    for (int y = y_first; y < y_stop; ++y, v += s.dv) {
        const int tv = clamp_tile(v);
        uint32_t* out = f.pixels + size_t(y) * W;
        if (!bilinear_on) {
            const uint32_t* row0 = tile + tv * kPaddedTileStride;
            for (int x = x_begin; x < x_end; ++x) out[x] = row0[columns.offset[x]];
            continue;
        }
        if (cached[tv & 1] != tv) blend_row(tv);
        if (cached[(tv + 1) & 1] != tv + 1) blend_row(tv + 1);
        blend_rows(columns.rows[tv & 1], columns.rows[(tv + 1) & 1],
                   int16_t(tv < 63 ? weight_of(v, tv) : 0), x_begin, x_end, out);
    }
}

void draw_base_rows_sse2(const FrameRows& f, const ViewRect& r, const RawImage* textures,
                         bool bilinear_on, DrawScratch& columns) {
    const int W = f.width, H = f.height;
    const float dx = float((double(r.x1) - double(r.x0)) / (W - 1));
    const float dz = float((double(r.z1) - double(r.z0)) / (H - 1));
    if (!columns.reserve(W)) return;
    // Column tables: the accumulator restarts at 0 in every row, so each column's position is
    // the same in every row. extra = sub-image column, or -1 where nothing is drawn. The columns
    // inside the image are [in_begin, in_end); those before and after are black. `special` lists
    // the columns in between that are not blended: each texture's last pixel, which is looked up,
    // never blended with the neighbouring texture (and any column outside, should the positions
    // not be monotonic).
    int in_begin = W, in_end = 0;
    {
        float kx = 0.0f;
        for (int x = 0; x < W; ++x, kx += dx)
            if (inside_open(r.x0 + kx, kLevel1Width)) {
                if (in_begin == W) in_begin = x;
                in_end = x + 1;
            }
    }
    int specials = 0;
    {
        float kx = 0.0f;
        for (int x = 0; x < W; ++x, kx += dx) {
            const float wx = r.x0 + kx;
            int16_t w = 0;
            if (!inside_open(wx, kLevel1Width)) {
                columns.extra[x] = -1;
                columns.safe[x] = 0;
                if (x >= in_begin && x < in_end) columns.special[specials++] = x;
            } else {
                const int ix = int(wx);
                columns.extra[x] = ix >> 10;
                columns.offset[x] = ix & 1023;
                w = int16_t(weight_of(wx, ix));
                const bool last = (ix & 1023) + 1 >= kBaseTexSize;
                columns.safe[x] = (ix >> 10) * 1024 + (last ? kBaseTexSize - 2 : ix & 1023);
                if (last) columns.special[specials++] = x;
            }
            for (int k = 0; k < 4; ++k) columns.wide[4 * x + k] = w;
        }
    }
    // Bilinear sampling is separable here too: the horizontal blend of a texture row depends only
    // on the column, so each row of the level-1 image is blended once for all screen columns and
    // reused by every screen row that samples it, as the upper or the lower row. The horizontal
    // blend, its saturation and the vertical blend are the same 16-bit steps as lerp_pixel's, so
    // the pixels are the same. Special columns are blended too (from a safe place, the values
    // are never used) and then written on their own.
    const __m128i zero = _mm_setzero_si128();
    const __m128i max255 = _mm_set1_epi16(255);
    int cached[2] = {-1, -1};  // level-1 image row held by columns.rows[row & 1]
    int pointed_row = -1;      // sub-image row columns.texels points into
    auto blend_row = [&](int image_row) {
        int16_t* dst = columns.rows[image_row & 1];
        cached[image_row & 1] = image_row;
        const int sub_row = image_row >> 10, pz = image_row & 1023;
        if (sub_row != pointed_row) {
            pointed_row = sub_row;
            for (int x = in_begin; x < in_end; ++x) {
                const int s = columns.safe[x];
                columns.texels[x] =
                    reinterpret_cast<const uint32_t*>(textures[(s >> 10) + 4 * sub_row].data) +
                    (s & 1023);
            }
        }
        const size_t row_offset = size_t(pz) * kBaseTexSize;
        auto at = [&](int x) { return load_pair(columns.texels[x] + row_offset); };
        auto clamp = [&](__m128i v) { return _mm_min_epi16(_mm_max_epi16(v, zero), max255); };
        int x = in_begin;
        for (; x + 2 <= in_end; x += 2) {
            const __m128i p = _mm_unpacklo_epi32(at(x), at(x + 1));
            const __m128i w =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns.wide + 4 * x));
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(dst + 4 * x),
                clamp(lerp16(_mm_unpacklo_epi8(p, zero), _mm_unpackhi_epi8(p, zero), w)));
        }
        if (x < in_end) {
            const __m128i p = _mm_unpacklo_epi8(at(x), zero);
            const __m128i w =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(columns.wide + 4 * x));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 4 * x),
                             clamp(lerp16(p, _mm_unpackhi_epi64(p, p), w)));
        }
    };
    auto texel = [&](int x, int sub_row, int pz) -> uint32_t {
        const int sub_col = columns.extra[x];
        if (sub_col < 0) return 0;
        const RawImage& t = textures[sub_col + 4 * sub_row];
        return reinterpret_cast<const uint32_t*>(t.data)[size_t(pz) * t.w + columns.offset[x]];
    };
    const int y_stop = f.y_end < H ? f.y_end : H;
    float kz = 0.0f;
    for (int y = 0; y < y_stop; ++y, kz += dz) {
        if (y < f.y_begin) continue;
        uint32_t* out = f.pixels + size_t(y) * W;
        const float wz = r.z0 + kz;
        if (!inside_open(wz, kLevel1Height)) {
            memset(out, 0, size_t(W) * 4);
            continue;
        }
        const int iz = int(wz);
        const int sub_row = iz >> 10, pz = iz & 1023;
        if (in_begin >= in_end) {
            memset(out, 0, size_t(W) * 4);
            continue;
        }
        memset(out, 0, size_t(in_begin) * 4);
        memset(out + in_end, 0, size_t(W - in_end) * 4);
        if (!bilinear_on || pz + 1 >= kBaseTexSize) {
            // Nearest sampling, or a texture's last row: every pixel looked up.
            for (int x = in_begin; x < in_end; ++x) out[x] = texel(x, sub_row, pz);
            continue;
        }
        if (cached[iz & 1] != iz) blend_row(iz);
        if (cached[(iz + 1) & 1] != iz + 1) blend_row(iz + 1);
        blend_rows(columns.rows[iz & 1], columns.rows[(iz + 1) & 1], int16_t(weight_of(wz, iz)),
                   in_begin, in_end, out);
        for (int i = 0; i < specials; ++i) {
            const int sx = columns.special[i];
            out[sx] = texel(sx, sub_row, pz);
        }
    }
}

#endif  // __SSE2__
