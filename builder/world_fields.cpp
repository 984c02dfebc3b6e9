// The procedural world's fields (builder/world_fields.h). The per-pixel loops are written without
// branches so that they vectorise.
#include "builder/world_fields.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "store/format.h"

namespace builder {
namespace world {
namespace {

constexpr int kFieldMargin = 8;

// The start camera looks at world (111081, 32424): level-1 pixel (x + 16384) / 32.
constexpr float kStartX1 = (kStartX + kWorldOffset) / 32.0f;
constexpr float kStartZ1 = (kStartZ + kWorldOffset) / 32.0f;

inline uint32_t mix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

// Uniform in [-1, 1) for one lattice point of one noise layer.
inline float hash_noise(uint32_t key, int32_t x, int32_t y) {
    const uint32_t h =
        mix32(key ^ mix32(uint32_t(x) * 0x9e3779b1U ^ mix32(uint32_t(y) + 0x632be5abU)));
    return float(h >> 8) * (2.0f / 16777216.0f) - 1.0f;
}

float value_noise(uint32_t key, float x, float y) {
    const float fx = std::floor(x), fy = std::floor(y);
    const int32_t ix = int32_t(fx), iy = int32_t(fy);
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const float a = hash_noise(key, ix, iy), b = hash_noise(key, ix + 1, iy);
    const float c = hash_noise(key, ix, iy + 1), d = hash_noise(key, ix + 1, iy + 1);
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

float fbm(uint32_t key, float x, float y, float wavelength, int octaves, float gain) {
    float sum = 0, amp = 1, norm = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += amp * value_noise(key + uint32_t(o) * 0x51ed27U, x / wavelength, y / wavelength);
        norm += amp;
        amp *= gain;
        wavelength *= 0.5f;
    }
    return sum / norm;
}

// Noise amplitude added by the refinement to level l, per field. Height detail shrinks a little
// slower than the pixel size, so finer levels show rougher relief, as real ground does.
float refine_amp(int field, int level) {
    const float base[kFields] = {0.0012f, 0.0006f, 0.0008f};
    const float ratio[kFields] = {0.42f, 0.5f, 0.5f};
    return base[field] * std::pow(ratio[field], float(level - 2));
}

// The row halfway between rows b and c, from rows a, b, c, d.
QV_CLONES void between_rows(const float* a, const float* b, const float* c, const float* d, int n,
                            float* out) {
    for (int i = 0; i < n; ++i) out[i] = (9.0f * (b[i] + c[i]) - a[i] - d[i]) * 0.0625f;
}

// The level's fresh detail: uniform noise in [-amp, amp) keyed by the row and global column.
QV_CLONES void add_noise(float* out, int n, uint32_t rowkey, uint32_t gx, float amp) {
    for (int i = 0; i < n; ++i) {
        const uint32_t hsh = mix32(rowkey ^ (gx + uint32_t(i)) * 0x165667b1U);
        out[i] += amp * (float(int32_t(hsh >> 8)) * (2.0f / 16777216.0f) - 1.0f);
    }
}

}  // namespace

uint32_t seed_key(uint64_t seed) {
    return uint32_t(seed) ^ uint32_t(seed >> 32) * 0x85ebca6bU;
}

void Field::reset(int x0_, int y0_, int w_, int h_) {
    x0 = x0_, y0 = y0_, w = w_, h = h_;
    const size_t n = size_t(w) * size_t(h);
    if (v.size() != n) {
        decltype(v)().swap(v);
        v.resize(n);
    }
}

float Level1::at(int f, int x, int y) const {
    return field[f][size_t(std::clamp(y, 0, kLevel1H - 1)) * kLevel1W +
                    size_t(std::clamp(x, 0, kLevel1W - 1))];
}

QV_CLONES void widen_row(const float* p, int g0, int n, float* odd, float* dst) {
    const int k0 = g0 >> 1, k1 = (g0 + n - 1) >> 1;
    for (int k = k0; k <= k1; ++k)
        odd[k - k0] = (9.0f * (p[k] + p[k + 1]) - p[k - 1] - p[k + 2]) * 0.0625f;
    int i = 0;
    if (g0 & 1) dst[i++] = odd[0];
    const int base = (g0 + i) >> 1;
    const int pairs = (n - i) / 2;
    float* d = dst + i;
    const float* o = odd + (base - k0);
    const float* e = p + base;
    for (int j = 0; j < pairs; ++j) {
        d[2 * j] = e[j];
        d[2 * j + 1] = o[j];
    }
    if (i + 2 * pairs < n) dst[n - 1] = p[base + pairs];
}

RefineNoise refine_noise(uint32_t world_key, int field, int level) {
    return {world_key + 0x1000u * uint32_t(level) + 0x100u * uint32_t(field),
            refine_amp(field, level)};
}

void refine_row(const float* above, const float* at, const float* below, const float* below2,
                int gy, int gx, int n, RefineNoise noise, float* out) {
    if ((gy & 1) == 0) {
        for (int i = 0; i < n; ++i) out[i] = at[i];
    } else {
        between_rows(above, at, below, below2, n, out);
    }
    const uint32_t rowkey = mix32(noise.key ^ uint32_t(gy) * 0x27d4eb2dU);
    add_noise(out, n, rowkey, uint32_t(gx), noise.amp);
}

void refine(uint32_t world_key, const Field& parent, Field& child, int f, int level, int gx0,
            int gy0, int y0, int y1) {
    const int cx0 = child.x0, cw = child.w;
    std::vector<float> hrows(size_t(4) * size_t(cw)), odd(size_t(cw) / 2 + 2);
    int cached[4] = {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
    auto hrow = [&](int j) -> const float* {
        float* dst = hrows.data() + size_t((j + 64) & 3) * size_t(cw);
        if (cached[(j + 64) & 3] != j) {
            widen_row(parent.row(j), cx0, cw, odd.data(), dst);
            cached[(j + 64) & 3] = j;
        }
        return dst;
    };
    const RefineNoise noise = refine_noise(world_key, f, level);
    for (int y = y0; y < y1; ++y) {
        const int k = y >> 1;
        float* out = child.row(y) + cx0;
        // gy0 is even, so the global row has the parity of y.
        if ((y & 1) == 0)
            refine_row(nullptr, hrow(k), nullptr, nullptr, gy0 + y, gx0 + cx0, cw, noise, out);
        else
            refine_row(hrow(k - 1), hrow(k), hrow(k + 1), hrow(k + 2), gy0 + y, gx0 + cx0, cw,
                       noise, out);
    }
}

// The fields at level 1: fractal noise on a grid four times coarser, refined twice.
void make_level1(uint32_t key, Pool& pool, Level1& out) {
    const int cw = kLevel1W / 4, chh = kLevel1H / 4, M = kFieldMargin;
    std::vector<Field> cur(kFields);
    for (auto& f : cur) f.reset(-M, -M, cw + 2 * M, chh + 2 * M);
    pool.run(chh + 2 * M, [&](int64_t job) {
        const int y = int(job) - M;
        for (int x = -M; x < cw + M; ++x) {
            const float fx = float(x) * 4.0f, fy = float(y) * 4.0f;
            // Continents: broad noise, a warp for ragged outlines, a latitude fall-off.
            const float wx = fx + 90.0f * fbm(key + 11, fx, fy, 700.0f, 3, 0.5f);
            const float wy = fy + 90.0f * fbm(key + 12, fx, fy, 700.0f, 3, 0.5f);
            float h = fbm(key + 1, wx, wy, 1100.0f, 7, 0.52f) * 1.25f + 0.02f;
            const float lat =
                std::fabs(std::clamp(fy, 0.0f, float(kLevel1H)) / kLevel1H - 0.5f) * 2.0f;
            h -= 0.35f * std::pow(lat, 6.0f);
            // Mountain ranges: ridged noise where the ground is already high.
            const float ridge = 1.0f - std::fabs(fbm(key + 2, wx, wy, 420.0f, 5, 0.5f)) * 2.2f;
            if (h > 0) h += std::max(0.0f, ridge) * std::min(1.0f, h * 4.0f) * 0.35f;
            cur[0].row(y)[x] = h;
            cur[1].row(y)[x] = fbm(key + 3, wx * 1.3f, wy * 1.3f, 260.0f, 4, 0.5f);
            cur[2].row(y)[x] = fbm(key + 4, fx, fy, 900.0f, 5, 0.55f);
        }
    });
    for (int l = 0; l <= 1; ++l) {
        const int nw = (cur[0].w - 2 * M) * 2, nh = (cur[0].h - 2 * M) * 2;
        std::vector<Field> next(kFields);
        for (auto& f : next) f.reset(-M, -M, nw + 2 * M, nh + 2 * M);
        pool.run(int64_t(kFields) * (nh + 2 * M), [&](int64_t job) {
            const int f = int(job % kFields), y = int(job / kFields) - M;
            refine(key, cur[size_t(f)], next[size_t(f)], f, l, 0, 0, y, y + 1);
        });
        cur.swap(next);
    }
    for (int f = 0; f < kFields; ++f) {
        out.field[f].assign(size_t(kLevel1W) * kLevel1H, 0.0f);
        for (int y = 0; y < kLevel1H; ++y)
            memcpy(out.field[f].data() + size_t(y) * kLevel1W, cur[size_t(f)].row(y),
                   sizeof(float) * kLevel1W);
    }
    std::vector<float>& hgt = out.field[0];
    // Pull the ground near the start camera to just above sea level, so the first view shows a
    // coast rather than open water or plain land, and lead a river through the ground a little
    // inland of it.
    const auto at = [&](std::vector<float>& f, float x, float y) -> float& {
        return f[size_t(std::clamp(int(y), 0, kLevel1H - 1)) * kLevel1W +
                 size_t(std::clamp(int(x), 0, kLevel1W - 1))];
    };
    const auto pull = [&](std::vector<float>& f, float cx, float cy, float sigma, float target) {
        const float shift = target - at(f, cx, cy);
        for (int y = 0; y < kLevel1H; ++y)
            for (int x = 0; x < kLevel1W; ++x) {
                const float dx = x - cx, dy = y - cy;
                f[size_t(y) * kLevel1W + x] +=
                    shift * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
            }
    };
    pull(hgt, kStartX1, kStartZ1, 140.0f, 0.014f);
    const float gx = at(hgt, kStartX1 + 6, kStartZ1) - at(hgt, kStartX1 - 6, kStartZ1);
    const float gz = at(hgt, kStartX1, kStartZ1 + 6) - at(hgt, kStartX1, kStartZ1 - 6);
    const float norm = std::max(1e-9f, std::sqrt(gx * gx + gz * gz));
    pull(out.field[1], kStartX1 + 8.0f * gx / norm, kStartZ1 + 8.0f * gz / norm, 30.0f, 0.0f);
}

float relief(int level) {
    const float pixel = std::ldexp(1.0f, 6 - level);  // world units per pixel at this level
    return 700.0f / pixel;
}

// Every kind of ground is computed for every pixel and the right one picked, in the order water,
// beach, river, snow, rock, low ground.
QV_CLONES void colour_row(const float* __restrict h, const float* __restrict hu,
                          const float* __restrict hd, const float* __restrict rv,
                          const float* __restrict mo, float relief, int n, uint8_t* __restrict R,
                          uint8_t* __restrict G, uint8_t* __restrict B) {
    for (int x = 0; x < n; ++x) {
        const float e = h[x];
        // Light from the north-west: brighter where the ground faces it.
        const float sx = (h[x + 1] - h[x - 1]) * relief;
        const float sz = (hd[x] - hu[x]) * relief;
        const float lit = 1.0f - 0.9f * (sx + sz) / std::sqrt(1.0f + sx * sx + sz * sz);
        const float m = mo[x];
        const float river = std::fabs(rv[x]);
        const float width = 0.018f * std::max(0.0f, 1.0f - e * 2.5f);
        // Low ground: dry grass and sand where it is dry, forest where it is wet.
        const float wet = std::clamp(0.5f + m * 2.2f, 0.0f, 1.0f);
        const float hi = std::min(1.0f, e * 4.0f);
        float r = (190 - 140 * wet) * (1 - 0.3f * hi) + 30 * hi;
        float g = (175 - 60 * wet) * (1 - 0.25f * hi) + 20 * hi;
        float b = (115 - 70 * wet) * (1 - 0.2f * hi) + 15 * hi;
        float l = lit;
        const float t = std::min(1.0f, (e - 0.32f) * 6.0f);
        const bool rock = e > 0.32f;
        r = rock ? 110 + 30 * t : r;
        g = rock ? 100 + 25 * t : g;
        b = rock ? 85 + 30 * t : b;
        const bool snow = e > 0.55f + 0.1f * m;
        r = snow ? 238.0f : r;
        g = snow ? 240.0f : g;
        b = snow ? 246.0f : b;
        const bool stream = river < width;
        r = stream ? 55.0f : r;
        g = stream ? 110.0f : g;
        b = stream ? 165.0f : b;
        l = stream ? 1.0f + (lit - 1.0f) * 0.2f : l;
        const bool beach = e < 0.012f;
        r = beach ? 222.0f : r;
        g = beach ? 206.0f : g;
        b = beach ? 160.0f : b;
        l = beach ? lit : l;
        const bool water = e < 0;
        const float d = std::min(1.0f, -e * 4.0f);
        r = water ? 70 - 58 * d : r;
        g = water ? 165 - 120 * d : g;
        b = water ? 185 - 90 * d : b;
        l = water ? 1.0f + (lit - 1.0f) * (0.12f + 0.2f * (1.0f - d)) : l;
        R[x] = uint8_t(int32_t(std::clamp(r * l, 0.0f, 255.0f)));
        G[x] = uint8_t(int32_t(std::clamp(g * l, 0.0f, 255.0f)));
        B[x] = uint8_t(int32_t(std::clamp(b * l, 0.0f, 255.0f)));
    }
}

}  // namespace world
}  // namespace builder
