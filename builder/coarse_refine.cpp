#include "builder/coarse_refine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "decoder/lifting.h"
#include "encoder/clones.h"

namespace builder {
namespace {

constexpr int kSide = 64;
constexpr int kCoarse = kCoarseCount;
constexpr int kMaxSteps = 32;

// One level of the inverse transform's linear part (its offsets left out) along a line of m
// samples: the low half s and the high half d lifted back and interleaved.
void synth_step(double* v, int m) {
    const int h = m / 2;
    double s[kSide], d[kSide];
    for (int k = 0; k < h; ++k) s[k] = v[k], d[k] = v[h + k];
    s[0] -= d[0] * 0.5;
    for (int k = 1; k < h; ++k) s[k] -= (d[k - 1] + d[k]) * 0.25;
    for (int k = 0; k + 1 < h; ++k) d[k] += (s[k] + s[k + 1]) * 0.5;
    d[h - 1] += s[h - 1];
    for (int k = 0; k < h; ++k) v[2 * k] = s[k], v[2 * k + 1] = d[k];
}

// The adjoint of synth_step (<synth_step(u), v> = <u, synth_step_adjoint(v)>): its lifting
// steps transposed, in reverse order. The interleave becomes a split; the predict step
// (d += B s) becomes s += B^T d; the update step (s -= A d) becomes d -= A^T s.
void synth_step_adjoint(double* v, int m) {
    const int h = m / 2;
    double s[kSide / 2], d[kSide / 2];
    for (int k = 0; k < h; ++k) s[k] = v[2 * k], d[k] = v[2 * k + 1];
    for (int k = 0; k + 1 < h; ++k) s[k] += d[k] * 0.5, s[k + 1] += d[k] * 0.5;
    s[h - 1] += d[h - 1];
    d[0] -= s[0] * 0.5;
    for (int k = 1; k < h; ++k) d[k - 1] -= s[k] * 0.25, d[k] -= s[k] * 0.25;
    for (int k = 0; k < h; ++k) v[k] = s[k], v[h + k] = d[k];
}

// The low half of synth_step_adjoint for a line of m samples: s[j] = v[2j] plus the odd
// neighbours that the predict step fed from it (the update step's transpose changes only d).
// v holds the line's samples `step` apart; out receives m / 2 values.
inline void low_half_adjoint(const double* v, ptrdiff_t step, int m, double* out) {
    const int h = m / 2;
    out[0] = v[0] + v[step] * (h > 1 ? 0.5 : 1.0);
    for (int j = 1; j + 1 < h; ++j)
        out[j] = v[2 * j * step] + (v[(2 * j - 1) * step] + v[(2 * j + 1) * step]) * 0.5;
    if (h > 1)
        out[h - 1] = v[(2 * h - 2) * step] + v[(2 * h - 3) * step] * 0.5 + v[(2 * h - 1) * step];
}

// The coarse coefficients' patterns are separable: coefficient (r, c) of the bands of size n is
// a(y) b(x), a the line of n samples with a unit impulse at r taken through the inverse steps of
// sizes n, 2n, ..., 64, b likewise from c. There are 14 such lines (index k < n for n = 2, 4, 8).
constexpr int kLines = 14;
int line_index(int k, int n) {
    return (n - 2) + k;
}  // n = 2: 0..1, 4: 2..5, 8: 6..13, ...

struct CoarseBasis {
    double dline[kLines][kSide];
    double edge[kLines];            // kFirst * line(0) - kLast * line(63)
    int la[kCoarse], lb[kCoarse];   // by coarse index r * kCoarseSide + c: its a and b lines
    double gram[kCoarse][kCoarse];  // plain error plus seam_weight times the border steps
    explicit CoarseBasis(double seam_weight) {
        for (int n = 2; n <= kCoarseSide; n *= 2)
            for (int k = 0; k < n; ++k) {
                double* v = dline[line_index(k, n)];
                std::memset(v, 0, sizeof(double) * kSide);
                v[k] = 1.0;
                for (int s = n; s <= kSide; s *= 2) synth_step(v, s);
            }
        for (int j = 0; j < kLines; ++j)
            edge[j] = kFirst * dline[j][0] - kLast * dline[j][kSide - 1];
        for (int r = 0; r < kCoarseSide; ++r)
            for (int c = 0; c < kCoarseSide; ++c) {
                int n = 2;
                while (n <= std::max(r, c)) n *= 2;  // bands of size n hold max(r, c) in [n / 2, n)
                la[r * kCoarseSide + c] = line_index(r, n);
                lb[r * kCoarseSide + c] = line_index(c, n);
            }
        double dots[kLines][kLines];
        for (int i = 0; i < kLines; ++i)
            for (int j = 0; j < kLines; ++j) {
                double s = 0;
                for (int k = 0; k < kSide; ++k) s += dline[i][k] * dline[j][k];
                dots[i][j] = s;
            }
        for (int i = 0; i < kCoarse; ++i)
            for (int j = 0; j < kCoarse; ++j) {
                const double da = dots[la[i]][la[j]], db = dots[lb[i]][lb[j]];
                gram[i][j] = da * db + seam_weight * (da * edge[lb[i]] * edge[lb[j]] +
                                                      edge[la[i]] * edge[la[j]] * db);
            }
    }
};

// kSeamWeight, measured on the photographs at quality 60: 0 leaves border steps 1.21 times the
// steps inside the tiles in smooth areas, 4 leaves 1.09 times, 8 makes them equal (1.02) for
// 0.24 dB less than 0.
const CoarseBasis& basis() {
    static const CoarseBasis b(kSeamWeight);
    return b;
}

// Every line's correlation with a line of 64 samples, out[line_index(k, n)] = <line(k, n), v>:
// the adjoint steps of sizes 64 down to 2, each line read after the step of its own size.
void line_correlations(const double* v, double* out) {
    double w[kSide];
    std::memcpy(w, v, sizeof w);
    for (int m = kSide; m >= 2; m /= 2) {
        synth_step_adjoint(w, m);
        if (m <= kCoarseSide)
            for (int k = 0; k < m; ++k) out[line_index(k, m)] = w[k];
    }
}

// The first adjoint step of the plane, down its columns: only the low half of every column is
// read later, so only that is made (32 rows of 64). Vectorises across the columns.
QV_CLONES void first_column_step(const float* __restrict e, double (*__restrict out)[kSide]) {
    constexpr int h = kSide / 2;
    for (int x = 0; x < kSide; ++x) out[0][x] = double(e[x]) + double(e[kSide + x]) * 0.5;
    for (int j = 1; j + 1 < h; ++j) {
        const float* r = e + 2 * j * kSide;
        for (int x = 0; x < kSide; ++x)
            out[j][x] = double(r[x]) + (double(r[x - kSide]) + double(r[x + kSide])) * 0.5;
    }
    const float* r = e + (2 * h - 2) * kSide;
    for (int x = 0; x < kSide; ++x)
        out[h - 1][x] = double(r[x]) + double(r[x - kSide]) * 0.5 + double(r[x + kSide]);
}

// The error plane I(c) - I(q) = I(c - q) - I(0), I the viewer's inverse transform.
QV_CLONES void difference(const float* __restrict a, const float* __restrict b,
                          float* __restrict out) {
    for (int p = 0; p < kSide * kSide; ++p) out[p] = a[p] - b[p];
}

}  // namespace

void coarse_correlations(const float* e, double* g) {
    const CoarseBasis& B = basis();
    // <E, pattern of i> = (S^T E)_i, S the inverse transform's linear part: the adjoint steps of
    // sizes 64, 32, 16 on the plane's top-left block, of which only the low quarter goes on,
    // then full ones of sizes 8, 4 and 2 inside the coarse block.
    double a[kSide / 2][kSide], b[kSide / 2][kSide / 2];
    first_column_step(e, a);
    for (int y = 0; y < kSide / 2; ++y) low_half_adjoint(a[y], 1, kSide, b[y]);
    for (int m = kSide / 2; m > kCoarseSide; m /= 2) {
        double col[kSide / 2];
        for (int x = 0; x < m; ++x) {
            low_half_adjoint(&b[0][x], kSide / 2, m, col);
            for (int j = 0; j < m / 2; ++j) a[j][x] = col[j];
        }
        for (int y = 0; y < m / 2; ++y) low_half_adjoint(a[y], 1, m, b[y]);
    }
    for (int m = kCoarseSide; m >= 2; m /= 2) {
        double line[kCoarseSide];
        for (int x = 0; x < m; ++x) {
            for (int y = 0; y < m; ++y) line[y] = b[y][x];
            synth_step_adjoint(line, m);
            for (int y = 0; y < m; ++y) b[y][x] = line[y];
        }
        for (int y = 0; y < m; ++y) synth_step_adjoint(b[y], m);
    }
    for (int r = 0; r < kCoarseSide; ++r)
        for (int c = 0; c < kCoarseSide; ++c) g[r * kCoarseSide + c] = b[r][c];
    // The border steps of the error, by row (first column against last) and by column, and
    // every line against them.
    double sx[kSide], sy[kSide];
    for (int k = 0; k < kSide; ++k) {
        sx[k] = kFirst * double(e[k * kSide]) - kLast * double(e[k * kSide + kSide - 1]);
        sy[k] = kFirst * double(e[k]) - kLast * double(e[(kSide - 1) * kSide + k]);
    }
    double sa[kLines], sb[kLines];
    line_correlations(sx, sa);
    line_correlations(sy, sb);
    for (int i = 0; i < kCoarse; ++i)
        g[i] += kSeamWeight * (sa[B.la[i]] * B.edge[B.lb[i]] + B.edge[B.la[i]] * sb[B.lb[i]]);
}

float nearest_magnitude_plain(const float* mags, int n, double m, bool negative) {
    float v = mags[0];
    for (int k = 1; k < n; ++k)
        if (std::fabs(m - mags[k]) < std::fabs(m - v)) v = mags[k];
    return negative ? -v : v;
}

float nearest_magnitude(const float* mags, int n, double m, bool negative) {
    // The distances to ascending magnitudes fall, then rise: once one is larger than the least so
    // far, none after it is smaller. Equal ones go on (as the plain scan, the first least wins).
    float v = mags[0];
    double least = std::fabs(m - v);
    for (int k = 1; k < n; ++k) {
        const double d = std::fabs(m - mags[k]);
        if (d > least) break;
        if (d < least) v = mags[k], least = d;
    }
    return negative ? -v : v;
}

void coarse_descent_plain(const double (*gram)[kCoarseCount], const SortedGrid& mags, double gain,
                          float price, double* g, float* qc) {
    // Each step makes the one change (a coefficient to another of its values) that lowers the
    // cost most, until none does. For a coefficient the error is a parabola in its value, least
    // at old + g / G: the nonzero candidate is the grid value nearest to that.
    for (int step = 0; step < kMaxSteps; ++step) {
        double best = -1e-6;
        int best_i = -1;
        float best_v = 0.0f;
        for (int i = 0; i < kCoarse; ++i) {
            const double old = qc[i], gii = gram[i][i];
            const double target = old + g[i] / gii;
            const float v = nearest_magnitude(mags.v, mags.n, std::fabs(target), target < 0);
            const float cand[2] = {v, 0.0f};
            for (float c : cand) {
                if (c == qc[i]) continue;
                const double D = old - double(c);  // c - q grows by D: 2 D g + D^2 G more error
                const double dj = gain * (2.0 * D * g[i] + D * D * gii) +
                                  double(price) * (int(c != 0.0f) - int(old != 0.0));
                if (dj < best) best = dj, best_i = i, best_v = c;
            }
        }
        if (best_i < 0) break;
        const double D = double(qc[best_i]) - double(best_v);
        for (int j = 0; j < kCoarse; ++j) g[j] += D * gram[j][best_i];
        qc[best_i] = best_v;
    }
}

// The candidates of every coefficient are evaluated side by side, without branches: the nearest
// grid value is the one after the last midpoint below the magnitude (a magnitude exactly on a
// midpoint takes the lower value, as the scan does; the grid values and their midpoints are
// exact in float), and a candidate equal to the present value costs +inf instead of being
// skipped. The first least cost in the plain loop's order (by coefficient, the grid value before
// 0) is then picked by one scan, so the steps are the plain loop's steps.
QV_CLONES void coarse_descent(const double (*gram)[kCoarseCount], const SortedGrid& mags,
                              double gain, float price, double* g, float* qc) {
    alignas(32) double diag[kCoarse], column[kCoarse];
    for (int i = 0; i < kCoarse; ++i) diag[i] = gram[i][i];
    double mid[16], val[16];
    for (int j = 0; j < 16; ++j) {
        mid[j] = j + 1 < mags.n ? double(mags.mid[j]) : INFINITY;
        val[j] = double(mags.v[j < mags.n ? j : mags.n - 1]);
    }
    const double p = double(price);
    for (int step = 0; step < kMaxSteps; ++step) {
        alignas(32) double cost_v[kCoarse], cost_0[kCoarse], value[kCoarse];
        for (int i = 0; i < kCoarse; ++i) {
            const double old = qc[i], gii = diag[i];
            const double target = old + g[i] / gii;
            const double m = std::fabs(target);
            double v = val[0];
            for (int j = 0; j + 1 < 16; ++j) v = mid[j] < m ? val[j + 1] : v;
            v = target < 0 ? -v : v;
            const double nonzero_old = old != 0.0 ? 1.0 : 0.0;
            const double dv = old - v;
            const double jv = gain * (2.0 * dv * g[i] + dv * dv * gii) + p * (1.0 - nonzero_old);
            const double j0 = gain * (2.0 * old * g[i] + old * old * gii) + p * (0.0 - nonzero_old);
            cost_v[i] = v == old ? INFINITY : jv;
            cost_0[i] = old == 0.0 ? INFINITY : j0;
            value[i] = v;
        }
        double best = -1e-6;
        int best_i = -1;
        float best_v = 0.0f;
        for (int i = 0; i < kCoarse; ++i) {
            if (cost_v[i] < best) best = cost_v[i], best_i = i, best_v = float(value[i]);
            if (cost_0[i] < best) best = cost_0[i], best_i = i, best_v = 0.0f;
        }
        if (best_i < 0) break;
        const double D = double(qc[best_i]) - double(best_v);
        for (int j = 0; j < kCoarse; ++j) column[j] = gram[j][best_i];
        for (int j = 0; j < kCoarse; ++j) g[j] += D * column[j];
        qc[best_i] = best_v;
    }
}

void refine_coarse(const float* coeffs, int ch, const StartGrid& grid, float price, float* q) {
    if (grid.passes == 0) return;
    const CoarseBasis& B = basis();
    alignas(32) float d[kSide * kSide], e[kSide * kSide];
    difference(coeffs, q, d);
    inverse_wavelet(d);
    difference(d, inverse_wavelet_of_zero(), e);
    double g[kCoarse];
    coarse_correlations(e, g);
    const SortedGrid mags(grid);
    float qc[kCoarse];
    for (int i = 0; i < kCoarse; ++i) qc[i] = q[(i / kCoarseSide) * kSide + i % kCoarseSide];
    coarse_descent(B.gram, mags, colour_gain(ch), price, g, qc);
    for (int i = 0; i < kCoarse; ++i) q[(i / kCoarseSide) * kSide + i % kCoarseSide] = qc[i];
}

}  // namespace builder
