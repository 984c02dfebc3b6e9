// The procedural world. Three fields describe the terrain: height (sea below 0), a river field
// (rivers run along its zero lines) and moisture. They are made once for the whole world at the
// coarsest level by fractal value noise, then refined level by level: each refinement doubles
// the resolution with the same four-point interpolation the viewer uses and adds fresh noise
// scaled to that level's pixel size. Colour and relief shading are computed only at the finest
// level, so the shading picks up the new detail of every level, and the coarser levels of the
// data set are decimated from it like those of any imported picture.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "encoder/clones.h"
#include "store/format.h"
#include "builder/source.h"

namespace builder {
namespace {

constexpr int kWorldW1 = 4096, kWorldH1 = 2048;  // the world at 1024 pixels per sub-image
constexpr int kFieldMargin = 8;
constexpr int kFields = 3;  // height, river, moisture

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

// A block of a field at one level; element (x, y) for x in [x0, x0 + w), y in [y0, y0 + h).
// Every element is written before it is read (whole rows, all rows), so reset leaves them
// unset: clearing hundreds of megabytes on one thread only to overwrite them was a tenth of a
// build, and the pages are now first touched by the workers that fill them.
struct Field {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    std::vector<float, HugePageAllocator<float>> v;
    void reset(int x0_, int y0_, int w_, int h_) {
        x0 = x0_, y0 = y0_, w = w_, h = h_;
        const size_t n = size_t(w) * h;
        if (v.size() != n) {
            decltype(v)().swap(v);
            v.resize(n);
        }
    }
    float* row(int y) { return v.data() + size_t(y - y0) * w - x0; }
    const float* row(int y) const { return v.data() + size_t(y - y0) * w - x0; }
};

// Noise amplitude added by the refinement to level l (2..5), per field. Height detail shrinks a
// little slower than the pixel size, so finer levels show rougher relief, as real ground does.
float refine_amp(int field, int level) {
    const float base[kFields] = {0.0012f, 0.0006f, 0.0008f};
    const float ratio[kFields] = {0.42f, 0.5f, 0.5f};
    return base[field] * std::pow(ratio[field], float(level - 2));
}

// The world's per-pixel loops, written without branches so that they vectorise.

// One row at twice the resolution: target column g = g0 + i copies parent column g / 2 when g
// is even and interpolates parent columns k - 1 .. k + 2 (k = g / 2) when it is odd. `odd` is
// scratch for n / 2 + 2 values.
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

// Colour and relief shading of one row from height h (with the rows above and below), the river
// field and moisture. Every kind of ground is computed for every pixel and the right one picked,
// in the order water, beach, river, snow, rock, low ground.
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

class World : public Source {
  public:
    explicit World(uint64_t seed) : key_(uint32_t(seed) ^ uint32_t(seed >> 32) * 0x85ebca6bU) {}

    std::string describe() const override { return "procedural world"; }

    void sub_image(int sub, int size, Planes& out, Pool& pool) override {
        if (level1_[0].empty()) make_level1(pool);
        const int col = sub % 4, row = sub / 4;
        int levels = 0;  // refinements from 1024 pixels
        while ((1024 << levels) < size) ++levels;
        // Level-1 block of the sub-image with its margin, clamped at the world's edges. The
        // fields of every level are kept from one sub-image to the next (same sizes every time),
        // so their pages are faulted in and cleared by the kernel once per build.
        std::vector<Field>* cur = &fields_[1];
        cur->resize(kFields);
        for (int f = 0; f < kFields; ++f) {
            Field& c = (*cur)[size_t(f)];
            c.reset(-kFieldMargin, -kFieldMargin, 1024 + 2 * kFieldMargin, 1024 + 2 * kFieldMargin);
            for (int y = -kFieldMargin; y < 1024 + kFieldMargin; ++y) {
                const int gy = std::clamp(row * 1024 + y, 0, kWorldH1 - 1);
                float* r = c.row(y);
                for (int x = -kFieldMargin; x < 1024 + kFieldMargin; ++x) {
                    const int gx = std::clamp(col * 1024 + x, 0, kWorldW1 - 1);
                    r[x] = level1_[f][size_t(gy) * kWorldW1 + gx];
                }
            }
        }
        // Whole refinements up to the level below the finest.
        int s = 1024;
        for (int l = 2; l <= levels; ++l) {
            std::vector<Field>& next = fields_[l];
            next.resize(kFields);
            const int ns = 2 * s;
            for (int f = 0; f < kFields; ++f)
                next[size_t(f)].reset(-kFieldMargin, -kFieldMargin, ns + 2 * kFieldMargin,
                                      ns + 2 * kFieldMargin);
            const int rows = ns + 2 * kFieldMargin, per_job = 64;
            const std::vector<Field>& parent = *cur;
            pool.run((rows + per_job - 1) / per_job * kFields, [&](int64_t job) {
                const int f = int(job % kFields);
                const int y0 = -kFieldMargin + int(job / kFields) * per_job;
                const int y1 = std::min(ns + kFieldMargin, y0 + per_job);
                refine(parent[size_t(f)], next[size_t(f)], f, l, col * ns, row * ns, y0, y1);
            });
            cur = &next;
            s = ns;
        }
        // The finest level in strips: fields with one pixel of margin for the slopes, then
        // colour.
        out.reset(size, size, 0);
        const int finest = levels + 1;
        const int per_job = 32;
        pool.run((size + per_job - 1) / per_job, [&](int64_t job) {
            const int y0 = int(job) * per_job, y1 = std::min(size, y0 + per_job);
            Field fine[kFields];
            for (int f = 0; f < kFields; ++f) {
                fine[f].reset(-1, y0 - 1, size + 2, y1 - y0 + 2);
                if (size == s) {
                    // No refinement left: the fields are already at this resolution.
                    for (int y = y0 - 1; y <= y1; ++y)
                        memcpy(fine[f].row(y) - 1, (*cur)[size_t(f)].row(y) - 1,
                               sizeof(float) * (size + 2));
                } else {
                    refine((*cur)[size_t(f)], fine[f], f, finest, col * size, row * size, y0 - 1,
                           y1 + 1);
                }
            }
            colour(fine, out, y0, y1, finest);
        });
    }

  private:
    // The world's fields at level 1: fractal noise on a grid four times coarser, refined twice.
    void make_level1(Pool& pool) {
        const int cw = kWorldW1 / 4, chh = kWorldH1 / 4, M = kFieldMargin;
        std::vector<Field> cur(kFields);
        for (auto& f : cur) f.reset(-M, -M, cw + 2 * M, chh + 2 * M);
        pool.run(chh + 2 * M, [&](int64_t job) {
            const int y = int(job) - M;
            for (int x = -M; x < cw + M; ++x) {
                const float fx = float(x) * 4.0f, fy = float(y) * 4.0f;
                // Continents: broad noise, a warp for ragged outlines, a latitude fall-off.
                const float wx = fx + 90.0f * fbm(key_ + 11, fx, fy, 700.0f, 3, 0.5f);
                const float wy = fy + 90.0f * fbm(key_ + 12, fx, fy, 700.0f, 3, 0.5f);
                float h = fbm(key_ + 1, wx, wy, 1100.0f, 7, 0.52f) * 1.25f + 0.02f;
                const float lat =
                    std::fabs(std::clamp(fy, 0.0f, float(kWorldH1)) / kWorldH1 - 0.5f) * 2.0f;
                h -= 0.35f * std::pow(lat, 6.0f);
                // Mountain ranges: ridged noise where the ground is already high.
                const float ridge = 1.0f - std::fabs(fbm(key_ + 2, wx, wy, 420.0f, 5, 0.5f)) * 2.2f;
                if (h > 0) h += std::max(0.0f, ridge) * std::min(1.0f, h * 4.0f) * 0.35f;
                cur[0].row(y)[x] = h;
                cur[1].row(y)[x] = fbm(key_ + 3, wx * 1.3f, wy * 1.3f, 260.0f, 4, 0.5f);
                cur[2].row(y)[x] = fbm(key_ + 4, fx, fy, 900.0f, 5, 0.55f);
            }
        });
        for (int l = 0; l <= 1; ++l) {
            const int nw = (cur[0].w - 2 * M) * 2, nh = (cur[0].h - 2 * M) * 2;
            std::vector<Field> next(kFields);
            for (auto& f : next) f.reset(-M, -M, nw + 2 * M, nh + 2 * M);
            pool.run(int64_t(kFields) * (nh + 2 * M), [&](int64_t job) {
                const int f = int(job % kFields), y = int(job / kFields) - M;
                refine(cur[f], next[f], f, l, 0, 0, y, y + 1);
            });
            cur.swap(next);
        }
        for (int f = 0; f < kFields; ++f) {
            level1_[f].assign(size_t(kWorldW1) * kWorldH1, 0.0f);
            for (int y = 0; y < kWorldH1; ++y)
                memcpy(level1_[f].data() + size_t(y) * kWorldW1, cur[f].row(y),
                       sizeof(float) * kWorldW1);
        }
        std::vector<float>& hgt = level1_[0];
        // Pull the ground near the start camera to just above sea level, so the first view
        // shows a coast rather than open water or plain land, and lead a river through the
        // ground a little inland of it.
        const auto at = [&](std::vector<float>& f, float x, float y) -> float& {
            return f[size_t(std::clamp(int(y), 0, kWorldH1 - 1)) * kWorldW1 +
                     size_t(std::clamp(int(x), 0, kWorldW1 - 1))];
        };
        const auto pull = [&](std::vector<float>& f, float cx, float cy, float sigma,
                              float target) {
            const float shift = target - at(f, cx, cy);
            for (int y = 0; y < kWorldH1; ++y)
                for (int x = 0; x < kWorldW1; ++x) {
                    const float dx = x - cx, dy = y - cy;
                    f[size_t(y) * kWorldW1 + x] +=
                        shift * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
                }
        };
        pull(hgt, kStartX1, kStartZ1, 140.0f, 0.014f);
        const float gx = at(hgt, kStartX1 + 6, kStartZ1) - at(hgt, kStartX1 - 6, kStartZ1);
        const float gz = at(hgt, kStartX1, kStartZ1 + 6) - at(hgt, kStartX1, kStartZ1 - 6);
        const float norm = std::max(1e-9f, std::sqrt(gx * gx + gz * gz));
        pull(level1_[1], kStartX1 + 8.0f * gx / norm, kStartZ1 + 8.0f * gz / norm, 30.0f, 0.0f);
    }

    // Rows [y0, y1) of `child` (columns child.x0 .. child.x0 + child.w - 1) from `parent` at half
    // the resolution, plus this level's noise at global pixel (gx0 + x, gy0 + y).
    void refine(const Field& parent, Field& child, int f, int level, int gx0, int gy0, int y0,
                int y1) const {
        const int cx0 = child.x0, cw = child.w;
        std::vector<float> hrows(size_t(4) * cw), odd(size_t(cw) / 2 + 2);
        int cached[4] = {INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN};
        auto hrow = [&](int j) -> const float* {
            float* dst = hrows.data() + size_t((j + 64) & 3) * cw;
            if (cached[(j + 64) & 3] != j) {
                widen_row(parent.row(j), cx0, cw, odd.data(), dst);
                cached[(j + 64) & 3] = j;
            }
            return dst;
        };
        const float amp = refine_amp(f, level);
        const uint32_t key = key_ + 0x1000u * uint32_t(level) + 0x100u * uint32_t(f);
        for (int y = y0; y < y1; ++y) {
            const int k = y >> 1;
            float* out = child.row(y) + cx0;
            if ((y & 1) == 0) {
                const float* r = hrow(k);
                for (int i = 0; i < cw; ++i) out[i] = r[i];
            } else {
                between_rows(hrow(k - 1), hrow(k), hrow(k + 1), hrow(k + 2), cw, out);
            }
            const uint32_t rowkey = mix32(key ^ uint32_t(gy0 + y) * 0x27d4eb2dU);
            add_noise(out, cw, rowkey, uint32_t(gx0 + cx0), amp);
        }
    }

    static void colour(const Field* fine, Planes& out, int y0, int y1, int level) {
        const float pixel = float(1 << (6 - level));  // world units per pixel at this level
        const float relief = 700.0f / pixel;
        for (int y = y0; y < y1; ++y)
            colour_row(fine[0].row(y), fine[0].row(y - 1), fine[0].row(y + 1), fine[1].row(y),
                       fine[2].row(y), relief, out.w, out.at(0, 0, y), out.at(1, 0, y),
                       out.at(2, 0, y));
    }

    uint32_t key_;
    std::vector<float> level1_[kFields];
    std::vector<Field> fields_[8];  // by level, kept between sub-images
};

}  // namespace

std::unique_ptr<Source> make_world_source(uint64_t seed) {
    return std::make_unique<World>(seed);
}

}  // namespace builder
