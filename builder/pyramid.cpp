#include "builder/pyramid.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "encoder/clones.h"

namespace builder {

void Planes::clamp_margin() {
    for (int ch = 0; ch < 3; ++ch) {
        for (int y = 0; y < h; ++y) {
            uint8_t* row = at(ch, 0, y);
            memset(row - m, row[0], size_t(m));
            memset(row + w, row[w - 1], size_t(m));
        }
        for (int y = 1; y <= m; ++y) {
            memcpy(at(ch, -m, -y), at(ch, -m, 0), size_t(stride));
            memcpy(at(ch, -m, h - 1 + y), at(ch, -m, h - 1), size_t(stride));
        }
    }
}

namespace {

inline uint8_t clamp255(int v) {
    return uint8_t(std::min(std::max(v, 0), 255));  // min and max: the loops stay vectorisable
}

// Horizontal half-band pass of one source row into 32x-scaled values of dst_w coarse pixels.
// The columns whose taps reach past the row's ends repeat its edge pixels; the rest take a
// branch-free loop that vectorises.
QV_CLONES void decimate_row(const uint8_t* __restrict s, int w, int32_t* __restrict out,
                            int dst_w) {
    auto px = [&](int x) { return int32_t(s[x < 0 ? 0 : x >= w ? w - 1 : x]); };
    auto edge = [&](int k) {
        const int x = 2 * k;
        out[k] = 16 * px(x) + 9 * (px(x - 1) + px(x + 1)) - px(x - 3) - px(x + 3);
    };
    // Interior coarse pixels k have 2k - 3 >= 0 and 2k + 3 < w.
    const int k_lo = 2, k_hi = std::max(k_lo, std::min(dst_w, (w - 2) / 2));
    for (int k = 0; k < std::min(k_lo, dst_w); ++k) edge(k);
    for (int k = k_lo; k < k_hi; ++k) {
        const uint8_t* c = s + 2 * k;
        out[k] = 16 * int32_t(c[0]) + 9 * (int32_t(c[-1]) + int32_t(c[1])) - int32_t(c[-3]) -
                 int32_t(c[3]);
    }
    for (int k = std::max(k_lo, k_hi); k < dst_w; ++k) edge(k);
}

// Vertical half-band pass over rows of horizontally filtered values: the coarse row between
// rows up1 and dn1 (rows up3 .. dn3 around c), back to 8 bits.
QV_CLONES void decimate_column_step(const int32_t* __restrict c, const int32_t* __restrict up1,
                                    const int32_t* __restrict dn1, const int32_t* __restrict up3,
                                    const int32_t* __restrict dn3, int n, uint8_t* __restrict out) {
    for (int x = 0; x < n; ++x) {
        const int32_t v = 16 * c[x] + 9 * (up1[x] + dn1[x]) - up3[x] - dn3[x];
        out[x] = clamp255((v + 512) >> 10);
    }
}

}  // namespace

void decimate(const Planes& src, Planes& dst, Pool& pool) {
    const int dw = src.w / 2, dh = src.h / 2;
    if (dst.w != dw || dst.h != dh) dst.reset(dw, dh, 0);
    const int rows_per_job = 16;
    const int jobs = (dh + rows_per_job - 1) / rows_per_job;
    pool.run(int64_t(jobs) * 3, [&](int64_t job) {
        const int ch = int(job % 3);
        const int y0 = int(job / 3) * rows_per_job, y1 = std::min(dh, y0 + rows_per_job);
        // Rows 2*y0-3 .. 2*y1+1 of the source, filtered horizontally once each.
        const int first = 2 * y0 - 3, count = 2 * (y1 - y0) + 5;
        std::vector<int32_t> rows(size_t(count) * dw);
        for (int i = 0; i < count; ++i) {
            const int sy = std::clamp(first + i, 0, src.h - 1);
            decimate_row(src.at(ch, 0, sy), src.w, rows.data() + size_t(i) * dw, dw);
        }
        for (int y = y0; y < y1; ++y) {
            const int32_t* c = rows.data() + size_t(2 * y - first) * dw;
            const int32_t* up1 = c - dw;
            const int32_t* dn1 = c + dw;
            const int32_t* up3 = c - 3 * size_t(dw);
            const int32_t* dn3 = c + 3 * size_t(dw);
            decimate_column_step(c, up1, dn1, up3, dn3, dw, dst.at(ch, 0, y));
        }
    });
}

namespace {

// One target row of the four-point upsampler; `hrow(j)` gives the horizontally filtered source
// row j (16x scale for even target columns, unshifted 9/9/-1/-1 sums for odd ones).
QV_CLONES void emit_row(const int32_t* const* h4, bool odd, int n, uint8_t* __restrict out) {
    if (!odd) {
        const int32_t* r = h4[1];
        for (int x = 0; x < n; ++x) out[x] = clamp255(r[x] >> 4);
    } else {
        const int32_t *a = h4[0], *b = h4[1], *c = h4[2], *d = h4[3];
        for (int x = 0; x < n; ++x) out[x] = clamp255((9 * (b[x] + c[x]) - a[x] - d[x]) >> 8);
    }
}

QV_CLONES void filter_row(const uint8_t* __restrict s, int x_first, int n,
                          int32_t* __restrict out) {
    // Target column g = x_first + i: even g = 2k copies source k (scaled by 16 so that both
    // parities share the vertical step's single final shift), odd g = 2k+1 takes k-1..k+2.
    auto odd = [&](int k) { return 9 * (s[k] + s[k + 1]) - s[k - 1] - s[k + 2]; };
    int i = 0;
    if (x_first & 1) {
        out[0] = odd(x_first >> 1);
        i = 1;
    }
    const int k0 = (x_first + i) >> 1, pairs = (n - i) / 2;
    int32_t* o = out + i;
    for (int j = 0; j < pairs; ++j) {
        const int k = k0 + j;
        o[2 * j] = 16 * s[k];
        o[2 * j + 1] = odd(k);
    }
    if (i + 2 * pairs < n) out[n - 1] = 16 * s[k0 + pairs];
}

}  // namespace

void upsample_rows(const Planes& src, Planes& dst, int y0, int y1) {
    const int M = kPredictionMargin;
    const int n = dst.w + 2 * M;  // target columns -M .. w+M-1
    // Filtered source rows are cached by source row number in a small ring.
    struct Cached {
        int row = -(1 << 30);
        std::vector<int32_t> v;
    };
    for (int ch = 0; ch < 3; ++ch) {
        Cached ring[6];
        for (auto& r : ring) r.v.resize(size_t(n));
        auto get = [&](int j) -> const int32_t* {
            Cached& slot = ring[(j + 1024) % 6];
            if (slot.row != j) {
                const uint8_t* s = src.at(ch, 0, j);
                filter_row(s, -M, n, slot.v.data());
                slot.row = j;
            }
            return slot.v.data();
        };
        for (int y = y0; y < y1; ++y) {
            const int k = y >> 1;
            // Four consecutive rows never share a slot of the six-slot ring.
            const int32_t* rows[4] = {get(k - 1), get(k), get(k + 1), get(k + 2)};
            emit_row(rows, (y & 1) != 0, n, dst.at(ch, -M, y));
        }
    }
}

void upsample(const Planes& src, Planes& dst, Pool& pool) {
    const int M = kPredictionMargin;
    if (dst.w != 2 * src.w || dst.h != 2 * src.h || dst.m != M) dst.reset(2 * src.w, 2 * src.h, M);
    const int total = dst.h + 2 * M;
    const int rows_per_job = 32;
    const int jobs = (total + rows_per_job - 1) / rows_per_job;
    pool.run(jobs, [&](int64_t job) {
        const int y0 = -M + int(job) * rows_per_job;
        const int y1 = std::min(dst.h + M, y0 + rows_per_job);
        upsample_rows(src, dst, y0, y1);
    });
}

}  // namespace builder
