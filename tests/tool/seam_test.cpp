// The coarse coefficients chosen jointly in the picture, and the tile-grid measure: the joint
// choice never costs more than the per-coefficient one and stays on the grid; the measure sees
// border steps, and only in smooth areas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/lifting.h"
#include "builder/coarse_refine.h"
#include "builder/rd_quant.h"
#include "builder/seam.h"
#include "builder/tile_coder.h"

namespace {

constexpr int kN = 64;

// The steps the joint choice weighs in plane v: by row, kFirst times the first column less
// kLast times the last (sx); by column, the same of the first and last rows (sy).
template <typename T>
void border_steps_of(const T* v, double* sx, double* sy) {
    for (int k = 0; k < kN; ++k) {
        sx[k] = builder::kFirst * v[k * kN] - builder::kLast * v[k * kN + kN - 1];
        sy[k] = builder::kFirst * v[k] - builder::kLast * v[(kN - 1) * kN + k];
    }
}

// The refinement's cost, straight from the viewer's inverse transform of both planes.
double joint_cost(const float* c, const float* q, int ch, float price) {
    alignas(32) float a[kTileCoeffs], b[kTileCoeffs];
    std::memcpy(a, c, sizeof a);
    std::memcpy(b, q, sizeof b);
    inverse_wavelet(a);
    inverse_wavelet(b);
    double e2 = 0, seams = 0;
    std::vector<double> d(kTileCoeffs);
    for (int p = 0; p < kTileCoeffs; ++p) {
        d[p] = double(a[p] - b[p]);
        e2 += d[p] * d[p];
    }
    double sx[kN], sy[kN];
    border_steps_of(d.data(), sx, sy);
    for (int k = 0; k < kN; ++k) seams += sx[k] * sx[k] + sy[k] * sy[k];
    int coded = 0;
    for (int r = 0; r < builder::kCoarseSide; ++r)
        for (int col = 0; col < builder::kCoarseSide; ++col) coded += q[r * kN + col] != 0.0f;
    return builder::colour_gain(ch) * (e2 + builder::kSeamWeight * seams) + price * coded;
}

}  // namespace

TEST(CoarseRefine, NeverCostsMoreKeepsTheGridAndTouchesOnlyTheCoarseBlock) {
    std::mt19937 rng(5);
    std::normal_distribution<float> n(0.0f, 1.0f);
    alignas(32) float c[kTileCoeffs], q[kTileCoeffs], before[kTileCoeffs];
    int improved = 0;
    for (int trial = 0; trial < 24; ++trial) {
        const int ch = trial % 3;
        const float price = builder::Quality{20 + 3 * trial}.price();
        // Smooth tiles with a gradient and a few details, as skies and walls give.
        for (int p = 0; p < kTileCoeffs; ++p) {
            const int m = std::max(p / kN, p % kN);
            c[p] = n(rng) * (m < 8 ? 6.0f : 0.7f) + (m == 0 ? 5.5f + float(trial) : 0.0f);
        }
        const float* w = builder::coefficient_weights().w[ch];
        const int t0 = builder::choose_start(c, w, price, builder::kMaxPasses);
        const builder::StartGrid grid(t0, builder::kMaxPasses);
        builder::quantize_plane(c, w, grid, price, q);
        builder::prune_trees(c, w, price, price, q);
        std::memcpy(before, q, sizeof q);
        builder::refine_coarse(c, ch, grid, price, q);
        const double j0 = joint_cost(c, before, ch, price), j1 = joint_cost(c, q, ch, price);
        EXPECT_LE(j1, j0 * (1 + 1e-5)) << trial;
        improved += j1 < j0 * 0.999;
        for (int p = 0; p < kTileCoeffs; ++p) {
            if (p / kN < builder::kCoarseSide && p % kN < builder::kCoarseSide) {
                const float m = std::fabs(q[p]);
                bool on_grid = m == 0.0f;
                for (int k = 0; k < grid.passes; ++k) on_grid |= m == grid.lo[k] || m == grid.hi[k];
                EXPECT_TRUE(on_grid) << trial << " " << p << " " << q[p];
                EXPECT_FALSE(q[p] == 0.0f && std::signbit(q[p]))
                    << p;  // 0 as the decoder writes it
            } else {
                ASSERT_EQ(q[p], before[p]) << trial << " " << p;
            }
        }
    }
    EXPECT_GT(improved, 12);  // the joint choice usually finds something
}

// The search that stops once the distances rise picks what the plain scan picks, for every
// start threshold's grid: at random magnitudes, at the grid values, exactly halfway between two
// of them (the lower wins), below the least and above the largest.
TEST(CoarseRefine, NearestMagnitudeEqualsThePlainScan) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int checked = 0;
    for (int start = 2; start <= 255; ++start) {
        const builder::StartGrid grid(start, builder::kMaxPasses);
        const builder::SortedGrid sorted(grid);
        const float* mags = sorted.v;
        const int n = sorted.n;
        std::vector<double> ms = {0.0, double(mags[0]) * 0.5, double(mags[n - 1]) * 3.0};
        for (int k = 0; k < n; ++k) {
            ms.push_back(mags[k]);
            if (k + 1 < n) ms.push_back((double(mags[k]) + double(mags[k + 1])) / 2);
        }
        for (int r = 0; r < 40; ++r) ms.push_back(u(rng) * double(mags[n - 1]) * 1.2);
        for (double m : ms)
            for (bool negative : {false, true}) {
                const float want = builder::nearest_magnitude_plain(mags, n, m, negative);
                ASSERT_EQ(builder::nearest_magnitude(mags, n, m, negative), want)
                    << "start " << start << " m " << m;
                ++checked;
            }
    }
    EXPECT_GT(checked, 20000);
    // Halfway takes the lower of the two, as the plain scan does.
    const float two[2] = {4.0f, 6.0f};
    EXPECT_EQ(builder::nearest_magnitude(two, 2, 5.0, false), 4.0f);
    EXPECT_EQ(builder::nearest_magnitude(two, 2, 5.0, true), -4.0f);
}

// The gradient the coarse choice descends is the error's correlation with each coarse pattern as
// the viewer's inverse transform draws it, plus the seam weight times that of their border
// steps; checked against patterns made by the viewer's own transform, for random, smooth,
// ramp-shaped and single-sample error planes.
TEST(CoarseRefine, CorrelationsAreThoseWithThePatternsTheViewerDraws) {
    constexpr int n = builder::kCoarseCount;
    // Each coarse pattern through the viewer's transform, from a coefficient of 64 (its float
    // rounding is then far below the tolerance), scaled back to one unit.
    static double pattern[n][kTileCoeffs];
    const float* zero = inverse_wavelet_of_zero();
    for (int i = 0; i < n; ++i) {
        alignas(32) float plane[kTileCoeffs] = {};
        plane[(i / builder::kCoarseSide) * kN + i % builder::kCoarseSide] = 64.0f;
        inverse_wavelet(plane);
        for (int p = 0; p < kTileCoeffs; ++p) pattern[i][p] = (double(plane[p]) - zero[p]) / 64.0;
    }
    std::mt19937 rng(23);
    std::normal_distribution<float> nd(0.0f, 3.0f);
    alignas(32) static float e[kTileCoeffs];
    for (int trial = 0; trial < 12; ++trial) {
        for (int p = 0; p < kTileCoeffs; ++p) {
            const int y = p / kN, x = p % kN;
            switch (trial % 4) {
                case 0:
                    e[p] = nd(rng);
                    break;
                case 1:
                    e[p] = 4.0f * std::sin(x * 0.1f + trial) * std::cos(y * 0.07f);
                    break;
                case 2:
                    e[p] = -4.5f - 3.0f * x / 63.0f + 0.01f * y;
                    break;
                default:
                    e[p] = p == int(rng() % kTileCoeffs) ? 50.0f : 0.0f;
                    break;
            }
        }
        if (trial == 3) e[0] = 50.0f;  // corners and border samples
        if (trial == 7) e[kTileCoeffs - 1] = 50.0f;
        if (trial == 11) e[kN - 1] = -50.0f;
        double g[n];
        builder::coarse_correlations(e, g);
        double es_x[kN], es_y[kN];
        border_steps_of(e, es_x, es_y);
        double norm = 0;
        for (int p = 0; p < kTileCoeffs; ++p) norm += double(e[p]) * e[p];
        for (int i = 0; i < n; ++i) {
            double want = 0;
            for (int p = 0; p < kTileCoeffs; ++p) want += double(e[p]) * pattern[i][p];
            double ps_x[kN], ps_y[kN], seam = 0;
            border_steps_of(pattern[i], ps_x, ps_y);
            for (int k = 0; k < kN; ++k) seam += es_x[k] * ps_x[k] + es_y[k] * ps_y[k];
            want += builder::kSeamWeight * seam;
            ASSERT_NEAR(g[i], want, 1e-5 * std::sqrt(norm) + 1e-9)
                << "trial " << trial << " i " << i;
        }
    }
}

// The vectorised descent takes the plain loop's steps: same values, same correlations left, bit
// for bit, over random Gram matrices, grids, prices and starting values (0, either sign, every
// grid value), with some targets placed exactly on a midpoint between two grid values.
TEST(CoarseRefine, VectorisedDescentEqualsThePlainLoop) {
    constexpr int n = builder::kCoarseCount;
    std::mt19937 rng(17);
    std::normal_distribution<double> nd(0.0, 1.0);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    static double gram[n][n];
    int moved = 0, on_midpoint = 0;
    for (int trial = 0; trial < 300; ++trial) {
        // A = random 64 x 64; G = A^T A / 64 + diagonal: symmetric, positive definite.
        static double a[n][n];
        for (auto& row : a)
            for (double& v : row) v = nd(rng);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j <= i; ++j) {
                double s = 0;
                for (int k = 0; k < n; ++k) s += a[k][i] * a[k][j];
                gram[i][j] = gram[j][i] = s / n * (trial % 2 ? 0.1 : 1.0) + (i == j ? 0.5 : 0.0);
            }
        const builder::StartGrid grid(2 + int(rng() % 254), builder::kMaxPasses);
        const builder::SortedGrid mags(grid);
        const double gain = builder::colour_gain(trial % 3);
        const float price = float(std::pow(10.0, u(rng) * 4.0 - 1.0));
        float q0[n], q1[n];
        double g0[n], g1[n];
        const double scale = mags.v[mags.n - 1] * (0.2 + u(rng));
        for (int i = 0; i < n; ++i) {
            const int pick = int(rng() % unsigned(mags.n + 3));
            const float m = pick < mags.n ? mags.v[pick] : 0.0f;
            q0[i] = rng() % 2 ? -m : m;
            g0[i] = nd(rng) * scale * gram[i][i];
            if (rng() % 8 == 0 && mags.n > 1) {
                // Aim old + g / G exactly at a midpoint.
                const double mid = mags.mid[rng() % unsigned(mags.n - 1)];
                g0[i] = (mid - double(q0[i])) * gram[i][i];
                on_midpoint += double(q0[i]) + g0[i] / gram[i][i] == mid;
            }
        }
        std::memcpy(q1, q0, sizeof q0);
        std::memcpy(g1, g0, sizeof g0);
        float before[n];
        std::memcpy(before, q0, sizeof q0);
        builder::coarse_descent_plain(gram, mags, gain, price, g0, q0);
        builder::coarse_descent(gram, mags, gain, price, g1, q1);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(std::memcmp(&q0[i], &q1[i], sizeof(float)), 0) << trial << " " << i;
            ASSERT_EQ(std::memcmp(&g0[i], &g1[i], sizeof(double)), 0) << trial << " " << i;
        }
        moved += std::memcmp(before, q0, sizeof q0) != 0;
    }
    EXPECT_GT(moved, 250);
    EXPECT_GT(on_midpoint, 1000);
}

TEST(SeamMeasure, CountsStepsAcrossBordersAndMiddlesOnlyWhereTheSourceIsSmooth) {
    // Two by two tiles of a flat source, except a noisy band over the rows of the lower tiles'
    // first 16 rows; every tile's error is 0 left of column 48 and 2 from there on, so each
    // vertical border shows a step of 2 and the middles none.
    builder::Planes src(128, 128, 0);
    std::mt19937 rng(3);
    for (int ch = 0; ch < 3; ++ch)
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                *src.at(ch, x, y) = uint8_t(y >= 64 && y < 80 ? rng() % 256 : 100);
    static int16_t error[3][64][64];
    for (int ch = 0; ch < 3; ++ch)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) error[ch][y][x] = x >= 48 ? 2 : 0;
    std::vector<builder::TileEdges> edges(4);
    builder::SeamStats stats;
    for (int t = 0; t < 4; ++t)
        builder::tile_edges(src, (t % 2) * 64, (t / 2) * 64, error, edges[t], stats);
    EXPECT_EQ(stats.middle(), 0.0);
    builder::border_steps(src, 2, edges.data(), stats);
    EXPECT_EQ(stats.border(), 2.0);
    // Vertical borders: 64 smooth rows in the upper pair, 48 in the lower; horizontal: the two
    // upper-lower borders lie in the noisy band's reach (rows 62..65) and count nowhere.
    EXPECT_EQ(stats.border_pairs, 3 * (64 + 48));
    EXPECT_TRUE(builder::smooth_step(src, 10, 10, true));
    EXPECT_FALSE(builder::smooth_step(src, 10, 70, true));
    EXPECT_FALSE(builder::smooth_step(src, 10, 65, false));
    EXPECT_TRUE(builder::smooth_step(src, 10, 90, false));
}
