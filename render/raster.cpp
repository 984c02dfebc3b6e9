#include "render/raster.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/view.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

float view_matrix[3][3];

namespace {

constexpr double kScreenLimit = 1073741824.0;  // 2^30: far beyond any window, inside int range

inline int clamp_tile(float t) {
    // trunc, clamped to the tile; written so that NaN and infinities land on an edge too.
    if (!(t >= 1.0f)) return 0;
    if (!(t < 63.0f)) return 63;
    return int(t);
}

inline int weight_of(float t, int whole) {
    return int((double(t) - whole) * 32767.0);
}

inline uint32_t repack(const uint8_t* p) {
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
}

// Four 16-bit lanes per pixel: a + ((2 * (b - a) * w) >> 16), which is a + floor((b - a) * w /
// 32768). For weights 0..32767 the result lies between a and b; a negative weight (an image
// position just left of or above the image, which truncates onto pixel 0) extrapolates, so the
// caller saturates to bytes after every interpolation, exactly as lerp_pixel does.
inline __m128i lerp16(__m128i a, __m128i b, __m128i w) {
    __m128i d = _mm_sub_epi16(b, a);
    d = _mm_add_epi16(d, d);
    return _mm_add_epi16(a, _mm_mulhi_epi16(d, w));
}

// Bilinear sample of four packed words: p holds (top-left, top-right), q (bottom-left,
// bottom-right) in its low 64 bits.
inline uint32_t bilinear(__m128i p, __m128i q, __m128i wu, __m128i wv) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i pq = _mm_unpacklo_epi32(p, q);  // tl, bl, tr, br
    const __m128i left = _mm_unpacklo_epi8(pq, zero);
    const __m128i right = _mm_unpackhi_epi8(pq, zero);
    const __m128i top_bottom =
        _mm_min_epi16(_mm_max_epi16(lerp16(left, right, wu), zero), _mm_set1_epi16(255));
    const __m128i r = lerp16(top_bottom, _mm_unpackhi_epi64(top_bottom, top_bottom), wv);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
}

inline __m128i load_pair(const uint32_t* p) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

// Per-column tables, grown with the window only (nothing is allocated per frame otherwise).
struct ColumnTables {
    int capacity = 0;
    int32_t* offset = nullptr;              // tile column or image position
    int16_t* weight = nullptr;              // level 1: horizontal weight
    int32_t* extra = nullptr;               // level 1: sub-image column
    int16_t* wide = nullptr;                // tiles: horizontal weight repeated in four lanes
    int16_t* rows[2] = {nullptr, nullptr};  // tiles: two horizontally blended tile rows

    template <typename T>
    static bool grow(T*& p, size_t n) {
        T* q = static_cast<T*>(realloc(p, n * sizeof(T)));
        if (!q) return false;
        p = q;
        memset(p, 0, n * sizeof(T));
        return true;
    }
    void reserve(int n) {
        if (n <= capacity) return;
        const size_t lanes = size_t(n + 4) * 4;
        if (grow(offset, n) && grow(weight, n) && grow(extra, n) && grow(wide, lanes) &&
            grow(rows[0], lanes) && grow(rows[1], lanes))
            capacity = n;
    }
};
ColumnTables columns;

// final_tile as packed words with one spare column and row, so that a sample at tile column or
// row 63 can read its (zero-weighted) right or lower neighbour without leaving the array.
constexpr int kPaddedStride = 66;
alignas(16) uint32_t padded_tile[65 * kPaddedStride];

void pack_final_tile() {
    for (int y = 0; y < 64; ++y) {
        const uint8_t* src = final_tile.data + size_t(y) * final_tile.stride;
        uint32_t* dst = padded_tile + y * kPaddedStride;
        for (int x = 0; x < 64; ++x) dst[x] = repack(src + x * 4);
        dst[64] = dst[63];
        dst[65] = dst[63];
    }
    memcpy(padded_tile + 64 * kPaddedStride, padded_tile + 63 * kPaddedStride,
           kPaddedStride * sizeof(uint32_t));
}

bool corners_usable(const TileCorners& c) {
    return std::fabs(c.sx0) < kScreenLimit && std::fabs(c.sy0) < kScreenLimit &&
           std::fabs(c.sx1) < kScreenLimit && std::fabs(c.sy1) < kScreenLimit;
}

}  // namespace

void build_view_matrix() {
    const Vec4 r = *istr, u = *iup, f = *ifor;
    const float F = focal_length;
    const float rows[3][3] = {
        {F * r.x, F * u.x, f.x}, {F * r.y, F * u.y, f.y}, {F * r.z, F * u.z, f.z}};
    memcpy(view_matrix, rows, sizeof view_matrix);
}

uint32_t lerp_pixel(uint32_t a, uint32_t b, int weight) {
    uint32_t out = 0;
    for (int k = 0; k < 32; k += 8) {
        const int ak = int((a >> k) & 255), bk = int((b >> k) & 255);
        int v = ak + ((2 * (bk - ak) * weight) >> 16);
        v = v < 0 ? 0 : (v > 255 ? 255 : v);
        out |= uint32_t(v) << k;
    }
    return out;
}

TileCorners project_tile_corners(int tx, int tz) {
    const double s = current_scale;
    auto project = [&](int X, int Z, double half_w, double half_h, float& sx, float& sy) {
        const double ax = double(X) * s - kWorldOffset - double(ipos->x);
        const double ay = -double(ipos->y);
        const double az = double(Z) * s - kWorldOffset - double(ipos->z);
        const double cu = ax * view_matrix[0][0] + ay * view_matrix[1][0] + az * view_matrix[2][0];
        const double cv = ax * view_matrix[0][1] + ay * view_matrix[1][1] + az * view_matrix[2][1];
        const double cw = ax * view_matrix[0][2] + ay * view_matrix[1][2] + az * view_matrix[2][2];
        sx = float(cu / cw + half_w);
        sy = float(cv / cw + half_h);
    };
    TileCorners c;
    const int X0 = kTilePixels * tx, Z0 = kTilePixels * tz;
    // The far corner sits half a pixel further right and down, which makes neighbouring tiles
    // overlap by up to a column and never leave a gap.
    project(X0, Z0, frame_width / 2.0, frame_height / 2.0, c.sx0, c.sy0);
    project(X0 + kTilePixels, Z0 + kTilePixels, (frame_width + 1) / 2.0, (frame_height + 1) / 2.0,
            c.sx1, c.sy1);
    return c;
}

void draw_tile(int tx, int tz) {
    const TileCorners c = project_tile_corners(tx, tz);
    if (!corners_usable(c)) return;
    const int W = frame_width, H = frame_height;
    const int ix0 = int(c.sx0), iy0 = int(c.sy0), ix1 = int(c.sx1), iy1 = int(c.sy1);
    const float du = float(64.0 / (double(c.sx1) - double(c.sx0)));
    const float dv = float(64.0 / (double(c.sy1) - double(c.sy0)));
    if (iy0 > iy1) return;
    const int x_begin = ix0 > 0 ? ix0 : 0;
    const int x_end = ix1 < W ? ix1 : W;
    if (x_begin >= x_end) return;
    columns.reserve(W);
    if (columns.capacity < W) return;

    // The horizontal positions are the same in every row: the accumulator restarts at 0.
    const bool bilinear_on = viewer_settings.bilinIpol != 0;
    {
        float u = 0.0f;
        for (int x = ix0; x < x_end; ++x) {
            if (x >= 0) {
                const int tu = clamp_tile(u);
                columns.offset[x] = tu;
                const int16_t w = int16_t(bilinear_on && tu < 63 ? weight_of(u, tu) : 0);
                for (int k = 0; k < 4; ++k) columns.wide[4 * x + k] = w;
            }
            u += du;
        }
    }
    pack_final_tile();

    // Bilinear sampling is separable: the horizontal blend of a tile row depends only on the
    // column, so each tile row is blended once for all screen columns and reused by every screen
    // row that samples it (as the upper or the lower row). The two blends go through the same
    // 16-bit lanes as lerp_pixel, so the pixels are identical. The weights are never negative
    // here (u and v start at 0 and grow), so no intermediate needs saturating.
    int cached[2] = {-1, -1};
    auto blend_row = [&](int tile_row) {
        int16_t* dst = columns.rows[tile_row & 1];
        cached[tile_row & 1] = tile_row;
        const uint32_t* src = padded_tile + tile_row * kPaddedStride;
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

    float v = 0.0f;
    for (int y = iy0; y <= iy1; ++y, v += dv) {
        if (y < 0) continue;
        if (y >= H) break;
        const int tv = clamp_tile(v);
        uint32_t* out = frame_buffer + size_t(y) * W;
        if (!bilinear_on) {
            const uint32_t* row0 = padded_tile + tv * kPaddedStride;
            for (int x = x_begin; x < x_end; ++x) out[x] = row0[columns.offset[x]];
            continue;
        }
        if (cached[tv & 1] != tv) blend_row(tv);
        if (cached[(tv + 1) & 1] != tv + 1) blend_row(tv + 1);
        const int16_t* top = columns.rows[tv & 1];
        const int16_t* bottom = columns.rows[(tv + 1) & 1];
        const __m128i wv = _mm_set1_epi16(int16_t(tv < 63 ? weight_of(v, tv) : 0));
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
}

void draw_tile_plain(int tx, int tz) {
    const TileCorners c = project_tile_corners(tx, tz);
    if (!corners_usable(c)) return;
    const int W = frame_width, H = frame_height;
    const int ix0 = int(c.sx0), iy0 = int(c.sy0), ix1 = int(c.sx1), iy1 = int(c.sy1);
    const float du = float(64.0 / (double(c.sx1) - double(c.sx0)));
    const float dv = float(64.0 / (double(c.sy1) - double(c.sy0)));
    if (iy0 > iy1) return;
    auto T = [](int x, int y) {
        const uint8_t* p = final_tile.data + size_t(y) * final_tile.stride + size_t(x) * 4;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    };
    float v = 0.0f;
    for (int y = iy0; y <= iy1; ++y) {
        float u = 0.0f;
        for (int x = ix0; x < ix1; ++x) {
            if (x >= 0 && x < W && y >= 0 && y < H) {
                const int tu = clamp_tile(u), tv = clamp_tile(v);
                uint32_t s;
                if (!viewer_settings.bilinIpol) {
                    s = T(tu, tv);
                } else {
                    // Weights only where the fraction is below 1; a clamped position can lie
                    // far beyond the tile.
                    const int wu = tu < 63 ? weight_of(u, tu) : 0;
                    const int wv = tv < 63 ? weight_of(v, tv) : 0;
                    if (tu < 63 && tv < 63)
                        s = lerp_pixel(lerp_pixel(T(tu, tv), T(tu + 1, tv), wu),
                                       lerp_pixel(T(tu, tv + 1), T(tu + 1, tv + 1), wu), wv);
                    else if (tu < 63)
                        s = lerp_pixel(T(tu, tv), T(tu + 1, tv), wu);
                    else if (tv < 63)
                        s = lerp_pixel(T(tu, tv), T(tu, tv + 1), wv);
                    else
                        s = T(tu, tv);
                }
                // Sample bytes 0, 1, 2 are red, green, blue.
                frame_buffer[size_t(y) * W + x] =
                    (s & 255) << 16 | ((s >> 8) & 255) << 8 | ((s >> 16) & 255);
            }
            u += du;
        }
        v += dv;
    }
}

namespace {

// Level-1 image positions are tested against the four by two grid of 1024-pixel sub-images
// before any integer conversion: trunc(w) lies in 0..limit - 1 exactly when -1 < w < limit.
inline bool inside_open(float w, float limit) {
    return w > -1.0f && w < limit;
}
constexpr float kLevel1Width = float(kSubImageColumns * kBaseTexSize);  // 4096
constexpr float kLevel1Height = float(kSubImageRows * kBaseTexSize);    // 2048

}  // namespace

void draw_base_level() {
    const int W = frame_width, H = frame_height;
    const ViewRect r = view_rect;
    const float dx = float((double(r.x1) - double(r.x0)) / (W - 1));
    const float dz = float((double(r.z1) - double(r.z0)) / (H - 1));
    columns.reserve(W);
    if (columns.capacity < W) return;
    // Column tables: the accumulator restarts at 0 in every row, so each column's position is
    // the same in every row. extra = sub-image column, or -1 where nothing is drawn.
    {
        float kx = 0.0f;
        for (int x = 0; x < W; ++x, kx += dx) {
            const float wx = r.x0 + kx;
            if (!inside_open(wx, kLevel1Width)) {
                columns.extra[x] = -1;
                continue;
            }
            const int ix = int(wx);
            columns.extra[x] = ix >> 10;
            columns.offset[x] = ix & 1023;
            columns.weight[x] = int16_t(weight_of(wx, ix));
        }
    }
    const bool bilinear_on = viewer_settings.bilinIpol != 0;
    float kz = 0.0f;
    for (int y = 0; y < H; ++y, kz += dz) {
        const float wz = r.z0 + kz;
        if (!inside_open(wz, kLevel1Height)) continue;
        const int iz = int(wz);
        const int sub_row = iz >> 10, pz = iz & 1023;
        const __m128i wv = _mm_set1_epi16(int16_t(weight_of(wz, iz)));
        uint32_t* out = frame_buffer + size_t(y) * W;
        for (int x = 0; x < W; ++x) {
            const int sub_col = columns.extra[x];
            if (sub_col < 0) continue;
            const RawImage& t = base_tex_packed[sub_col + 4 * sub_row];
            const int px = columns.offset[x];
            if (px >= t.w || pz >= t.h) continue;
            const uint32_t* p = reinterpret_cast<const uint32_t*>(t.data) + size_t(pz) * t.w + px;
            // Each sub-image is sampled on its own: its last column and row are looked up, not
            // blended with the neighbouring texture.
            if (bilinear_on && px + 1 < t.w && pz + 1 < t.h)
                out[x] = bilinear(load_pair(p), load_pair(p + t.w),
                                  _mm_set1_epi16(columns.weight[x]), wv);
            else
                out[x] = *p;
        }
    }
}

void draw_base_level_plain() {
    const int W = frame_width, H = frame_height;
    const ViewRect r = view_rect;
    const float dx = float((double(r.x1) - double(r.x0)) / (W - 1));
    const float dz = float((double(r.z1) - double(r.z0)) / (H - 1));
    float kz = 0.0f;
    for (int y = 0; y < H; ++y) {
        float kx = 0.0f;
        for (int x = 0; x < W; ++x) {
            const float wx = r.x0 + kx, wz = r.z0 + kz;
            kx += dx;
            if (!inside_open(wx, kLevel1Width) || !inside_open(wz, kLevel1Height)) continue;
            const int ix = int(wx), iz = int(wz);
            const RawImage& t = base_tex_packed[(ix >> 10) + 4 * (iz >> 10)];
            const int px = ix & 1023, pz = iz & 1023;
            if (px >= t.w || pz >= t.h) continue;
            auto at = [&](int x_, int z_) {
                return reinterpret_cast<const uint32_t*>(t.data)[size_t(z_) * t.w + x_];
            };
            uint32_t pixel = at(px, pz);
            if (viewer_settings.bilinIpol && px + 1 < t.w && pz + 1 < t.h) {
                const int wu = weight_of(wx, ix), wv = weight_of(wz, iz);
                const uint32_t top = lerp_pixel(at(px, pz), at(px + 1, pz), wu);
                const uint32_t bottom = lerp_pixel(at(px, pz + 1), at(px + 1, pz + 1), wu);
                pixel = lerp_pixel(top, bottom, wv);
            }
            frame_buffer[size_t(y) * W + x] = pixel;
        }
        kz += dz;
    }
}

void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh) {
    const int W = frame_width, H = frame_height;
    if (pitch == 4 * W && sw >= W && sh >= H) {
        memcpy(pixels, frame_buffer, size_t(W) * size_t(H) * 4);
        return;
    }
    // Only where the surface exists: a surface smaller than the frame gets its overlap.
    const int w = W < sw ? W : sw;
    const int h = H < sh ? H : sh;
    if (w <= 0) return;
    for (int y = 0; y < h; ++y)
        memcpy(pixels + size_t(y) * pitch, frame_buffer + size_t(y) * W, size_t(w) * 4);
}
