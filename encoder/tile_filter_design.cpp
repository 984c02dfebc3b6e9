// Least-squares fit of the tile restoration filter (encoder/tile_filter_design.h).
#include "encoder/tile_filter_design.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "decoder/kernels.h"
#include "encoder/clones.h"

namespace {

constexpr int N = kTileFilterPairs;

// Solves the N x N system a x = b (a symmetric, positive semi-definite) by Gaussian elimination
// with partial pivoting; false when it is singular.
bool solve(double a[N][N], double b[N], double x[N]) {
    for (int i = 0; i < N; ++i) {
        int p = i;
        for (int r = i + 1; r < N; ++r)
            if (std::fabs(a[r][i]) > std::fabs(a[p][i])) p = r;
        if (std::fabs(a[p][i]) < 1e-9) return false;
        if (p != i) {
            std::swap(a[p], a[i]);
            std::swap(b[p], b[i]);
        }
        for (int r = i + 1; r < N; ++r) {
            const double f = a[r][i] / a[i][i];
            for (int k = i; k < N; ++k) a[r][k] -= f * a[i][k];
            b[r] -= f * b[i];
        }
    }
    for (int i = N - 1; i >= 0; --i) {
        double s = b[i];
        for (int k = i + 1; k < N; ++k) s -= a[i][k] * x[k];
        x[i] = s / a[i][i];
    }
    return true;
}

// Each pair's two pixels less twice the centre, for one row; parameters carry __restrict so
// that the loop is vectorised.
void pairs_row(const int16_t* __restrict a, const int16_t* __restrict m,
               const int16_t* __restrict b, int16_t* __restrict u0, int16_t* __restrict u1,
               int16_t* __restrict u2, int16_t* __restrict u3, int w) {
    for (int x = 0; x < w; ++x) {
        const int p2 = 2 * m[x];
        u0[x] = int16_t(m[x - 1] + m[x + 1] - p2);
        u1[x] = int16_t(a[x] + b[x] - p2);
        u2[x] = int16_t(a[x - 1] + b[x + 1] - p2);
        u3[x] = int16_t(a[x + 1] + b[x - 1] - p2);
    }
}

// Sum of a[x] * b[x] over a row: at most 1024 products of values within +-510 fit 32 bits.
QV_CLONES int64_t dot(const int16_t* __restrict a, const int16_t* __restrict b, int w) {
    int32_t s = 0;
    for (int x = 0; x < w; ++x) s += int32_t(a[x]) * int32_t(b[x]);
    return s;
}

// The fit's sums for one row in one pass: u_i u_k (i <= k, row-major), u_i r, then r r. Each a
// sum of at most 1024 products of values within +-510, so 32 bits hold it.
QV_CLONES void row_sums(const int16_t* __restrict u0, const int16_t* __restrict u1,
                        const int16_t* __restrict u2, const int16_t* __restrict u3,
                        const int16_t* __restrict r, int w, int64_t* sums) {
    int32_t s00 = 0, s01 = 0, s02 = 0, s03 = 0, s11 = 0, s12 = 0, s13 = 0, s22 = 0, s23 = 0,
            s33 = 0, b0 = 0, b1 = 0, b2 = 0, b3 = 0, rr = 0;
    for (int x = 0; x < w; ++x) {
        const int32_t a0 = u0[x], a1 = u1[x], a2 = u2[x], a3 = u3[x], t = r[x];
        s00 += a0 * a0, s01 += a0 * a1, s02 += a0 * a2, s03 += a0 * a3;
        s11 += a1 * a1, s12 += a1 * a2, s13 += a1 * a3;
        s22 += a2 * a2, s23 += a2 * a3, s33 += a3 * a3;
        b0 += a0 * t, b1 += a1 * t, b2 += a2 * t, b3 += a3 * t, rr += t * t;
    }
    const int32_t all[15] = {s00, s01, s02, s03, s11, s12, s13, s22, s23, s33, b0, b1, b2, b3, rr};
    for (int i = 0; i < 15; ++i) sums[i] += all[i];
}

// A row of RGB pixels into three rows of samples, reading it once.
void deinterleave(const uint8_t* __restrict rgb, int w, int16_t* __restrict r,
                  int16_t* __restrict g, int16_t* __restrict b) {
    for (int x = 0; x < w; ++x) {
        r[x] = rgb[3 * x];
        g[x] = rgb[3 * x + 1];
        b[x] = rgb[3 * x + 2];
    }
}

}  // namespace

TileFilter design_tile_filter_planes(const uint8_t* src, size_t src_stride, int16_t* const dec[3],
                                     size_t dec_stride, int w, int h) {
    TileFilter f;
    if (w < 1 || h < 1) return f;
    // The decoded planes padded by their edges repeated one pixel out, as the filter reads them
    // (decoder/tile_filter.cpp); the source's channels once into planes of their own.
    const size_t pw = dec_stride, ssize = size_t(w) * size_t(h);
    // Kept per thread: a few megabytes a tile, which freed and taken again each time cost page
    // faults as much as the fit itself.
    thread_local std::vector<int16_t> planes, rows;
    planes.resize(3 * ssize);
    rows.resize(size_t(w) * (N + 2));
    int16_t* sp[3];
    for (int c = 0; c < 3; ++c) sp[c] = planes.data() + size_t(c) * ssize;
    for (int y = 0; y < h; ++y) {
        deinterleave(src + size_t(y) * src_stride, w, sp[0] + size_t(y) * size_t(w),
                     sp[1] + size_t(y) * size_t(w), sp[2] + size_t(y) * size_t(w));
        for (int c = 0; c < 3; ++c) {
            int16_t* drow = dec[c] + size_t(y) * pw;
            drow[-1] = drow[0];
            drow[w] = drow[w - 1];
        }
    }
    for (int c = 0; c < 3; ++c) {
        std::copy(dec[c] - 1, dec[c] + w + 1, dec[c] - pw - 1);
        const int16_t* last = dec[c] + size_t(h - 1) * pw;
        std::copy(last - 1, last + w + 1, dec[c] + size_t(h) * pw - 1);
    }

    int16_t* u[N];
    for (int k = 0; k < N; ++k) u[k] = rows.data() + size_t(k) * size_t(w);
    int16_t* r = rows.data() + size_t(N) * size_t(w);
    int16_t* e = r + w;
    const TileFilterRowFn row_fn = decoder_kernels().tile_filter_row;
    for (int c = 0; c < 3; ++c) {
        // out = p + sum t_k u_k / 128 with u_k = (pair's two pixels) - 2 p; the target is
        // source - p.
        const auto above = [&](int y) { return dec[c] + (ptrdiff_t(y) - 1) * ptrdiff_t(pw); };
        int64_t sums[15] = {};
        for (int y = 0; y < h; ++y) {
            const int16_t* mid = above(y + 1);
            pairs_row(above(y), mid, above(y + 2), u[0], u[1], u[2], u[3], w);
            const int16_t* s = sp[c] + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x) r[x] = int16_t(s[x] - mid[x]);
            row_sums(u[0], u[1], u[2], u[3], r, w, sums);
        }
        int64_t aa[N][N] = {}, ab[N] = {};
        for (int i = 0, n = 0; i < N; ++i)
            for (int k = i; k < N; ++k) aa[i][k] = sums[n++];
        for (int i = 0; i < N; ++i) ab[i] = sums[10 + i];
        const int64_t rr = sums[14];
        if (rr == 0) continue;
        double a[N][N], b[N], t[N];
        for (int i = 0; i < N; ++i) {
            b[i] = double(ab[i]);
            for (int k = 0; k < N; ++k) a[i][k] = double(i <= k ? aa[i][k] : aa[k][i]);
        }
        if (!solve(a, b, t)) continue;
        // The rounded taps' error: |r - U t|^2 = rr - 2 t.b + t'At.
        int8_t q[N];
        double tq[N];
        for (int i = 0; i < N; ++i) {
            q[i] = int8_t(std::clamp(std::lround(t[i] * kTileFilterOne), -128L, 127L));
            tq[i] = q[i] / double(kTileFilterOne);
        }
        double err = double(rr);
        for (int i = 0; i < N; ++i) {
            err -= 2 * tq[i] * double(ab[i]);
            for (int k = 0; k < N; ++k) err += tq[i] * tq[k] * double(i <= k ? aa[i][k] : aa[k][i]);
        }
        if (double(rr) - err < kTileFilterMinGain * double(rr)) continue;
        // The estimate leaves out the rounding of the filtered pixels to whole grey levels,
        // which at fine steps is most of the error: keep the channel only for what it gains.
        int64_t filtered = 0;
        int16_t* out = u[0];
        for (int y = 0; y < h; ++y) {
            row_fn(q, above(y), above(y + 1), above(y + 2), w, out);
            const int16_t* s = sp[c] + size_t(y) * size_t(w);
            for (int x = 0; x < w; ++x) e[x] = int16_t(s[x] - out[x]);
            filtered += dot(e, e, w);
        }
        if (double(rr - filtered) < kTileFilterMinGain * double(rr)) continue;
        f.mask = uint8_t(f.mask | 1 << c);
        std::copy(q, q + N, f.taps[c]);
    }
    return f;
}

TileFilter design_tile_filter(const uint8_t* src, size_t src_stride, const uint8_t* dec,
                              size_t dec_stride, int w, int h) {
    if (w < 1 || h < 1) return TileFilter{};
    const size_t pw = size_t(w) + 2, size = pw * (size_t(h) + 2);
    std::vector<int16_t> planes(3 * size);
    int16_t* dp[3];
    for (int c = 0; c < 3; ++c) dp[c] = planes.data() + size_t(c) * size + pw + 1;
    for (int y = 0; y < h; ++y)
        deinterleave(dec + size_t(y) * dec_stride, w, dp[0] + size_t(y) * pw,
                     dp[1] + size_t(y) * pw, dp[2] + size_t(y) * pw);
    return design_tile_filter_planes(src, src_stride, dp, pw, w, h);
}
