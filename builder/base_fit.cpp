#include "builder/base_fit.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace builder {
namespace {

constexpr int kMargin = 4;  // the margin every upsampling step carries

// One doubling of a row with a margin of 4 on both sides (entries -4..len+3 stored from 0):
// even targets copy, odd ones take (-1, 9, 9, -1) / 16.
std::vector<double> upsample_line(const std::vector<double>& src, int len) {
    std::vector<double> out(size_t(2 * len + 2 * kMargin));
    auto s = [&](int i) { return src[size_t(i + kMargin)]; };
    for (int x = -kMargin; x < 2 * len + kMargin; ++x) {
        const int k = x >> 1;  // arithmetic: -4 -> -2, -3 -> -2
        out[size_t(x + kMargin)] =
            (x & 1) ? (9.0 * (s(k) + s(k + 1)) - s(k - 1) - s(k + 2)) / 16.0 : s(k);
    }
    return out;
}

// M^T M, symmetric and banded, as its lower band: g[j][d] = (M^T M)[j][j - d].
struct BandCholesky {
    int n = 0, band = 0;
    std::vector<double> l;  // lower factor, l[j * (band + 1) + d] = L[j][j - d]
    double& at(int j, int d) { return l[size_t(j) * size_t(band + 1) + size_t(d)]; }
    double at(int j, int d) const { return l[size_t(j) * size_t(band + 1) + size_t(d)]; }

    explicit BandCholesky(const UpsamplerColumns& m) : n(m.n) {
        for (int j = 0; j < n; ++j)
            for (int i = std::max(0, j - 64); i < j; ++i) {
                const int lo = std::max(m.first[size_t(j)], m.first[size_t(i)]);
                const int hi = std::min(m.first[size_t(i)] + int(m.weight[size_t(i)].size()),
                                        m.first[size_t(j)] + int(m.weight[size_t(j)].size()));
                if (lo < hi) band = std::max(band, j - i);
            }
        l.assign(size_t(n) * size_t(band + 1), 0.0);
        for (int j = 0; j < n; ++j)
            for (int d = 0; d <= band && d <= j; ++d) {
                const int i = j - d;
                const int lo = std::max(m.first[size_t(j)], m.first[size_t(i)]);
                const int hi = std::min(m.first[size_t(i)] + int(m.weight[size_t(i)].size()),
                                        m.first[size_t(j)] + int(m.weight[size_t(j)].size()));
                double s = 0;
                for (int x = lo; x < hi; ++x)
                    s += m.weight[size_t(i)][size_t(x - m.first[size_t(i)])] *
                         m.weight[size_t(j)][size_t(x - m.first[size_t(j)])];
                at(j, d) = s;
            }
        // In place: L L^T = G, row by row.
        for (int j = 0; j < n; ++j) {
            for (int d = std::min(band, j); d >= 1; --d) {
                const int i = j - d;
                double s = at(j, d);
                for (int e = d + 1; e <= band && e <= j; ++e) {
                    const int k = j - e;  // k < i
                    if (i - k > band) continue;
                    s -= at(j, e) * at(i, i - k);
                }
                at(j, d) = s / at(i, 0);
            }
            double s = at(j, 0);
            for (int e = 1; e <= band && e <= j; ++e) s -= at(j, e) * at(j, e);
            if (!(s > 0)) throw std::runtime_error("base fit: the upsampler is singular");
            at(j, 0) = std::sqrt(s);
        }
    }

    // Solves G x = b in place.
    void solve(double* b) const {
        for (int j = 0; j < n; ++j) {
            double s = b[j];
            for (int d = 1; d <= band && d <= j; ++d) s -= at(j, d) * b[j - d];
            b[j] = s / at(j, 0);
        }
        for (int j = n - 1; j >= 0; --j) {
            double s = b[j];
            for (int d = 1; d <= band && j + d < n; ++d) s -= at(j + d, d) * b[j + d];
            b[j] = s / at(j, 0);
        }
    }
};

// out[j] = sum over the fine line of column j times the line (stride `step` between samples).
template <class T>
void apply_transpose(const UpsamplerColumns& m, const T* line, size_t step, double* out) {
    for (int j = 0; j < m.n; ++j) {
        const std::vector<double>& w = m.weight[size_t(j)];
        const T* s = line + size_t(m.first[size_t(j)]) * step;
        double sum = 0;
        for (size_t i = 0; i < w.size(); ++i) sum += w[i] * double(s[i * step]);
        out[j] = sum;
    }
}

}  // namespace

UpsamplerColumns::UpsamplerColumns(int n_, int steps_) : n(n_), steps(steps_), fine(n_ << steps_) {
    first.resize(size_t(n));
    weight.resize(size_t(n));
    for (int j = 0; j < n; ++j) {
        // The impulse at base pixel j, with the margin that clamping at the base's edges gives
        // (the edge pixels repeat into it).
        std::vector<double> line(size_t(n + 2 * kMargin), 0.0);
        for (int x = -kMargin; x < n + kMargin; ++x)
            if (std::clamp(x, 0, n - 1) == j) line[size_t(x + kMargin)] = 1.0;
        int len = n;
        for (int s = 0; s < steps; ++s, len *= 2) line = upsample_line(line, len);
        int lo = 0, hi = fine;
        while (lo < fine && line[size_t(lo + kMargin)] == 0.0) ++lo;
        while (hi > lo && line[size_t(hi - 1 + kMargin)] == 0.0) --hi;
        first[size_t(j)] = lo;
        weight[size_t(j)].assign(line.begin() + kMargin + lo, line.begin() + kMargin + hi);
    }
}

void fit_base(const Planes& target, int steps, Planes& base, Pool& pool) {
    if (steps < 1 || steps > 4 || target.w != target.h || target.w % (1 << steps) != 0 ||
        (target.w >> steps) < 4)
        throw std::invalid_argument("fit_base: unsupported geometry");
    const UpsamplerColumns m(target.w >> steps, steps);
    const BandCholesky g(m);
    const int n = m.n, fine = m.fine;
    base.reset(n, n, 0);
    // Rows first: each fine row becomes n values (M^T row, then G^-1); then each of the n
    // columns of that fine x n array the same way.
    std::vector<double> half(size_t(fine) * size_t(n));
    for (int ch = 0; ch < 3; ++ch) {
        pool.run(fine, [&](int64_t y) {
            double* row = half.data() + size_t(y) * size_t(n);
            apply_transpose(m, target.at(ch, 0, int(y)), 1, row);
            g.solve(row);
        });
        pool.run(n, [&](int64_t x) {
            std::vector<double> col(static_cast<size_t>(n));
            apply_transpose(m, half.data() + size_t(x), size_t(n), col.data());
            g.solve(col.data());
            for (int y = 0; y < n; ++y) {
                const double v = std::nearbyint(col[size_t(y)]);
                base.at(ch, int(x), y)[0] = uint8_t(std::clamp(v, 0.0, 255.0));
            }
        });
    }
}

}  // namespace builder
