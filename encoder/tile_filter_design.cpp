// Least-squares fit of the tile restoration filter (encoder/tile_filter_design.h).
#include "encoder/tile_filter_design.h"

#include <algorithm>
#include <cmath>
#include <vector>

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
int64_t dot(const int16_t* __restrict a, const int16_t* __restrict b, int w) {
    int32_t s = 0;
    for (int x = 0; x < w; ++x) s += int32_t(a[x]) * int32_t(b[x]);
    return s;
}

}  // namespace

TileFilter design_tile_filter(const uint8_t* src, size_t src_stride, const uint8_t* dec,
                              size_t dec_stride, int w, int h) {
    TileFilter f;
    if (w < 1 || h < 1) return f;
    const size_t pw = size_t(w) + 2;
    std::vector<int16_t> ring(3 * pw), rows(size_t(w) * (N + 1));
    int16_t* slot[3] = {ring.data(), ring.data() + pw, ring.data() + 2 * pw};
    int16_t* u[N];
    for (int k = 0; k < N; ++k) u[k] = rows.data() + size_t(k) * size_t(w);
    int16_t* r = rows.data() + size_t(N) * size_t(w);
    for (int c = 0; c < 3; ++c) {
        // out = p + sum t_k u_k / 128 with u_k = (pair's two pixels) - 2 p; the target is
        // source - p. The decoded rows as the filter reads them (decoder/tile_filter.cpp).
        int64_t aa[N][N] = {}, ab[N] = {}, rr = 0;
        tile_filter_load_row(dec + c, w, 3, slot[0]);
        for (int y = 0; y < h; ++y) {
            if (y + 1 < h)
                tile_filter_load_row(dec + size_t(y + 1) * dec_stride + c, w, 3, slot[(y + 1) % 3]);
            const int16_t* above = slot[(y > 0 ? y - 1 : 0) % 3] + 1;
            const int16_t* mid = slot[y % 3] + 1;
            const int16_t* below = slot[(y + 1 < h ? y + 1 : y) % 3] + 1;
            pairs_row(above, mid, below, u[0], u[1], u[2], u[3], w);
            const uint8_t* s = src + size_t(y) * src_stride + c;
            for (int x = 0; x < w; ++x) r[x] = int16_t(int(s[size_t(x) * 3]) - mid[x]);
            for (int i = 0; i < N; ++i) {
                ab[i] += dot(u[i], r, w);
                for (int k = i; k < N; ++k) aa[i][k] += dot(u[i], u[k], w);
            }
            rr += dot(r, r, w);
        }
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
        f.mask = uint8_t(f.mask | 1 << c);
        std::copy(q, q + N, f.taps[c]);
    }
    if (!f.on()) return f;
    // The estimate above leaves out the rounding of the filtered pixels to whole grey levels,
    // which at fine steps is most of the error: keep a channel only for what it really gains.
    std::vector<uint8_t> filtered(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y)
        std::copy(dec + size_t(y) * dec_stride, dec + size_t(y) * dec_stride + size_t(w) * 3,
                  filtered.begin() + ptrdiff_t(size_t(y) * size_t(w) * 3));
    std::vector<int16_t> scratch;
    apply_tile_filter(f, filtered.data(), size_t(w) * 3, w, h, 3, scratch);
    int64_t before[3] = {}, after[3] = {};
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = src + size_t(y) * src_stride;
        const uint8_t* d = dec + size_t(y) * dec_stride;
        const uint8_t* g = filtered.data() + size_t(y) * size_t(w) * 3;
        for (int x = 0; x < 3 * w; ++x) {
            const int e0 = int(d[x]) - int(s[x]), e1 = int(g[x]) - int(s[x]);
            before[x % 3] += e0 * e0;
            after[x % 3] += e1 * e1;
        }
    }
    for (int c = 0; c < 3; ++c)
        if (double(before[c] - after[c]) < kTileFilterMinGain * double(before[c])) {
            f.mask = uint8_t(f.mask & ~(1 << c));
            std::fill(f.taps[c], f.taps[c] + N, int8_t(0));
        }
    return f;
}
