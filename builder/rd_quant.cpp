#include "builder/rd_quant.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/lifting.h"
#include "decoder/scan_order.h"
#include "encoder/clones.h"

namespace builder {

// The viewer's colour conversion adds Y to all three, 1.772 Cb and -0.34413 Cb to blue and green,
// 1.402 Cr and -0.71414 Cr to red and green.
double colour_gain(int ch) {
    const double b = double(0.34413f), c = double(0.71414f), a = double(1.402f), e = double(1.772f);
    return ch == 0 ? 3.0 : ch == 1 ? b * b + e * e : a * a + c * c;
}

namespace {

struct Weights : CoefficientWeights {
    Weights() {
        // The transform is affine (its offsets do not depend on the plane): the pattern of
        // coefficient p is the transform of a unit impulse less that of the zero plane.
        const float* zero = inverse_wavelet_of_zero();
        alignas(32) float plane[kTileCoeffs];
        for (int p = 0; p < kTileCoeffs; ++p) {
            std::memset(plane, 0, sizeof plane);
            plane[p] = 1.0f;
            inverse_wavelet(plane);
            double e = 0;
            for (int i = 0; i < kTileCoeffs; ++i) {
                const double d = double(plane[i]) - double(zero[i]);
                e += d * d;
            }
            for (int ch = 0; ch < 3; ++ch) w[ch][p] = float(e * colour_gain(ch));
        }
    }
};

// The cost of coding magnitude m as each grid value, least of all, or as 0. Grid values are
// tried in a fixed order and only a strictly lower cost wins, so every caller agrees on ties.
inline void best_value(float m, float w, const StartGrid& g, float price, float& best_v,
                       float& best_j) {
    best_v = 0.0f;
    best_j = w * m * m;
    for (int k = 0; k < g.passes; ++k) {
        const float dl = m - g.lo[k], dh = m - g.hi[k];
        const float jl = w * dl * dl + price, jh = w * dh * dh + price;
        if (jl < best_j) best_j = jl, best_v = g.lo[k];
        if (jh < best_j) best_j = jh, best_v = g.hi[k];
    }
}

// With P passes, the starts 2^P..255 all run all P passes (the last at t0 >> (P - 1) >= 2); the
// smaller ones run fewer and give nothing those do not. Grids by pass and start (every `step`-th
// start from the lowest), one pass of every start a contiguous row, for the search across starts.
constexpr int kMostPasses = 7;
constexpr int kMostStarts = 256 - 2;
struct StartTable {
    int passes = 0, lowest = 0, step = 1, starts = 0;
    float lo[kMostPasses][kMostStarts], hi[kMostPasses][kMostStarts];
    StartTable(int p, int stride)
        : passes(p), lowest(1 << p), step(stride), starts((256 - (1 << p) + stride - 1) / stride) {
        for (int i = 0; i < starts; ++i) {
            const StartGrid g(lowest + i * step, passes);
            for (int k = 0; k < passes; ++k) lo[k][i] = g.lo[k], hi[k][i] = g.hi[k];
        }
    }
};
// The search samples every fourth start, then tries the neighbours of the best one.
constexpr int kCoarseStep = 4;
const StartTable& start_table(int passes) {
    static const StartTable tables[kMostPasses] = {
        StartTable(1, kCoarseStep), StartTable(2, kCoarseStep), StartTable(3, kCoarseStep),
        StartTable(4, kCoarseStep), StartTable(5, kCoarseStep), StartTable(6, kCoarseStep),
        StartTable(7, kCoarseStep)};
    return tables[passes - 1];
}

// Adds, for every start of the table, the least cost of magnitude m on its grid to cost[].
QV_CLONES void add_costs(const StartTable& st, float m, float w, float price, float* cost) {
    const float zero = w * m * m;
    // A value of twice the magnitude or more costs more than 0 does: passes whose values are all
    // that large (the lowest start has the smallest) change nothing.
    int first = 0;
    while (first < st.passes && st.lo[first][0] >= 2.0f * m) ++first;
    for (int i = 0; i < st.starts; ++i) {
        float j = zero;
        for (int k = first; k < st.passes; ++k) {
            const float dl = m - st.lo[k][i], dh = m - st.hi[k][i];
            j = std::min(j, w * dl * dl + price);
            j = std::min(j, w * dh * dh + price);
        }
        cost[i] += j;
    }
}

// Every nonzero value has the same price, so the best one is the grid value nearest to the
// magnitude, found by counting the midpoints between neighbouring grid values that it reaches (a
// magnitude exactly on a midpoint takes the upper value); it is coded only where that costs less
// than 0 does. NaN counts as 0.
inline float choose_value(float m, float w, const SortedGrid& g, float price) {
    float v = g.v[0];
    for (int j = 0; j + 1 < g.n; ++j) v = m >= g.mid[j] ? g.v[j + 1] : v;
    const float d = m - v;
    return w * d * d + price < w * m * m ? v : 0.0f;
}

QV_CLONES void quantize_blocks(const float* __restrict coeffs, const float* __restrict weight,
                               const SortedGrid& g, float price, float* __restrict out) {
    constexpr int kBlock = 32;
    for (int p0 = 0; p0 < kTileCoeffs; p0 += kBlock) {
        const float* c = coeffs + p0;
        const float* w = weight + p0;
        float* o = out + p0;
        float m[kBlock], v[kBlock];
        int any = 0;
        for (int i = 0; i < kBlock; ++i) {
            m[i] = std::fabs(c[i]);
            any |= w[i] * m[i] * m[i] > price;
        }
        if (!any) {
            // Nothing here can beat 0 (w m^2 <= price).
            for (int i = 0; i < kBlock; ++i) o[i] = 0.0f;
            continue;
        }
        // choose_value for the whole block at once: the same expressions, lane by lane.
        for (int i = 0; i < kBlock; ++i) v[i] = g.v[0];
        for (int j = 0; j + 1 < g.n; ++j) {
            const float mid = g.mid[j], next = g.v[j + 1];
            for (int i = 0; i < kBlock; ++i) v[i] = m[i] >= mid ? next : v[i];
        }
        for (int i = 0; i < kBlock; ++i) {
            const float d = m[i] - v[i];
            const float chosen = w[i] * d * d + price < w[i] * m[i] * m[i] ? v[i] : 0.0f;
            o[i] = c[i] < 0.0f ? 0.0f - chosen : chosen;  // 0 stays +0, as the decoder writes it
        }
    }
}

}  // namespace

const CoefficientWeights& coefficient_weights() {
    static const Weights weights;
    return weights;
}

StartGrid::StartGrid(int start, int max_passes) {
    int t = start;
    for (passes = 0; passes < max_passes && passes < 8 && t >= 2; ++passes, t /= 2) {
        this->t[passes] = float(t);
        lo[passes] = float((5 * t) / 4);
        hi[passes] = float((7 * t) / 4);
    }
}

void quantize_plane_plain(const float* coeffs, const float* weight, const StartGrid& grid,
                          float price, float* out) {
    const SortedGrid g(grid);
    for (int p = 0; p < kTileCoeffs; ++p) {
        const float c = coeffs[p];
        const float m = c == c ? std::fabs(c) : 0.0f;
        const float v = g.n > 0 ? choose_value(m, weight[p], g, price) : 0.0f;
        out[p] = c < 0.0f ? 0.0f - v : v;  // 0 stays +0, as the decoder writes it
    }
}

void quantize_plane(const float* coeffs, const float* weight, const StartGrid& grid, float price,
                    float* out) {
    // NaN never arrives from the forward transform of bytes; the plain version maps it to 0,
    // and so does this one (every comparison with NaN is false, so 0 wins).
    const SortedGrid g(grid);
    if (g.n == 0) {
        for (int p = 0; p < kTileCoeffs; ++p) out[p] = 0.0f;
        return;
    }
    quantize_blocks(coeffs, weight, g, price, out);
}

void prune_trees_plain(const float* coeffs, const float* weight, float price, float visit_price,
                       float* q) {
    const ScanTree& tree = scan_tree();
    // By scan index: the net gain of the tree below w as it stands, and whether w's descendants
    // are to be dropped. The finest bands (scan indices 1024 on) have no children: their gain is
    // their own; the coarser ones are done from the finest up (children come after parents).
    static_assert(kTileCoeffs == 4096, "the finest bands start at scan index 1024");
    constexpr int kFinest = 1024;
    float below[kTileCoeffs];
    uint8_t drop[kFinest];
    for (int w = kFinest; w < kTileCoeffs; ++w) {
        const int p = tree.pos[w];
        const float c = coeffs[p], d = c - q[p];
        const float own = weight[p] * (c * c - d * d) - price;
        below[w] = q[p] != 0.0f && own > 0.0f ? own : 0.0f;
    }
    bool any = false;
    for (int w = kFinest - 1; w >= 0; --w) {
        const int fc = w == 0 ? 1 : tree.first_child[w];
        float kids;
        if (w == 0) {
            kids = below[1] + below[2] + below[3];
        } else {
            const int width = 2 * tree.band_side[w];
            kids = below[fc] + below[fc + 1] + below[fc + width] + below[fc + width + 1];
        }
        const int p = tree.pos[w];
        drop[w] = 0;
        if (q[p] != 0.0f) {
            const float c = coeffs[p], d = c - q[p];
            below[w] = std::max(kids + weight[p] * (c * c - d * d) - price, 0.0f);
        } else if (kids > visit_price) {
            // An insignificant coefficient over coded ones is visited (an isolated zero)
            // instead of being a zerotree root.
            below[w] = kids - visit_price;
        } else {
            drop[w] = kids > 0.0f;
            any |= drop[w] != 0;
            below[w] = 0.0f;
        }
    }
    if (!any) return;
    // Top down: a dropped tree's coefficients are all 0.
    uint8_t gone[kTileCoeffs];
    gone[0] = 0;
    for (int w = 0; w < kTileCoeffs; ++w) {
        if (w > 0 && gone[w]) q[tree.pos[w]] = 0.0f;
        if (w >= kFinest) continue;
        const uint8_t g = gone[w] | drop[w];
        if (w == 0) {
            gone[1] = gone[2] = gone[3] = g;
        } else {
            const int fc = tree.first_child[w], width = 2 * tree.band_side[w];
            gone[fc] = gone[fc + 1] = gone[fc + width] = gone[fc + width + 1] = g;
        }
    }
}

namespace {

// One parent's step of the bottom-up walk: the net gain of its tree from its children's, and
// whether to drop its descendants. Branch-free, the same expressions as the plain walk.
inline void parent_step(float kids, float c, float cq, float w, float price, float visit_price,
                        float& below, uint8_t& drop) {
    const float d = c - cq;
    const float coded = std::max(kids + w * (c * c - d * d) - price, 0.0f);
    const bool visit = kids > visit_price;
    const float uncoded = visit ? kids - visit_price : 0.0f;
    below = cq != 0.0f ? coded : uncoded;
    drop = cq == 0.0f && !visit && kids > 0.0f;
}

// Parents of the level of size n (positions with max(row, column) in [n / 2, n)), their
// children at rows 2r, 2r + 1 and columns 2c, 2c + 1.
QV_CLONES bool prune_level(const float* __restrict coeffs, const float* __restrict weight,
                           const float* __restrict q, float price, float visit_price, int n,
                           float* __restrict below, uint8_t* __restrict drop) {
    const int h = n / 2;
    uint8_t any = 0;
    for (int r = 0; r < n; ++r) {
        const int c0 = r < h ? h : 0;
        for (int c = c0; c < n; ++c) {
            const int p = r * 64 + c, ch = 2 * r * 64 + 2 * c;
            const float kids = below[ch] + below[ch + 1] + below[ch + 64] + below[ch + 65];
            parent_step(kids, coeffs[p], q[p], weight[p], price, visit_price, below[p], drop[p]);
            any |= drop[p];
        }
    }
    return any != 0;
}

QV_CLONES void leaf_gains(const float* __restrict coeffs, const float* __restrict weight,
                          const float* __restrict q, float price, float* __restrict below) {
    for (int r = 0; r < 64; ++r)
        for (int c = r < 32 ? 32 : 0; c < 64; ++c) {
            const int p = r * 64 + c;
            const float x = coeffs[p], d = x - q[p];
            const float own = weight[p] * (x * x - d * d) - price;
            below[p] = q[p] != 0.0f && own > 0.0f ? own : 0.0f;
        }
}

}  // namespace

void prune_trees(const float* coeffs, const float* weight, float price, float visit_price,
                 float* q) {
    // The plain walk's tree by position: the children of (r, c) are the 2 x 2 block at
    // (2r, 2c), except for the DC coefficient, whose children are (0, 1), (1, 0) and (1, 1).
    alignas(32) float below[kTileCoeffs];
    alignas(32) uint8_t drop[kTileCoeffs];
    leaf_gains(coeffs, weight, q, price, below);
    bool any = false;
    for (int n = 32; n >= 2; n /= 2)
        any |= prune_level(coeffs, weight, q, price, visit_price, n, below, drop);
    parent_step(below[1] + below[64] + below[65], coeffs[0], q[0], weight[0], price, visit_price,
                below[0], drop[0]);
    if (!any && !drop[0]) return;
    // Top down: a dropped tree's coefficients are all 0.
    alignas(32) uint8_t gone[kTileCoeffs];
    gone[1] = gone[64] = gone[65] = drop[0];
    for (int n = 2; n <= 32; n *= 2) {
        const int h = n / 2;
        for (int r = 0; r < n; ++r)
            for (int c = r < h ? h : 0; c < n; ++c) {
                const int p = r * 64 + c, ch = 2 * r * 64 + 2 * c;
                const uint8_t g = gone[p] | drop[p];
                gone[ch] = gone[ch + 1] = gone[ch + 64] = gone[ch + 65] = g;
            }
    }
    for (int p = 1; p < kTileCoeffs; ++p) q[p] = gone[p] ? 0.0f : q[p];
}

int choose_start(const float* coeffs, const float* weight, float price, int passes) {
    const StartTable& st = start_table(std::clamp(passes, 1, kMostPasses));
    // The 16 coarsest coefficients (the DC coefficient and the bands of sizes 2 and 4): each
    // weighs on a quarter of the tile or more. (Adding the eight finer ones with the most
    // weighted energy changed the curve by less than 0.02 dB.)
    constexpr int kCoarse = 16;
    int pos[kCoarse];
    int n = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) pos[n++] = r * 64 + c;
    alignas(32) float cost[kMostStarts] = {};
    for (int i = 0; i < n; ++i) {
        // One that is 0 on every grid adds the same to every start: it cannot change the choice.
        const float m = std::fabs(coeffs[pos[i]]);
        if (!(weight[pos[i]] * m * m > price)) continue;
        add_costs(st, m, weight[pos[i]], price, cost);
    }
    int best = 0;
    for (int i = 1; i < st.starts; ++i)
        if (cost[i] < cost[best]) best = i;
    // The neighbours of the best sample, each costed alone.
    const int centre = st.lowest + best * st.step;
    int best_start = centre;
    float best_cost = cost[best];
    for (int t0 = std::max(st.lowest, centre - st.step + 1);
         t0 <= std::min(255, centre + st.step - 1); ++t0) {
        if (t0 == centre) continue;
        const StartGrid g(t0, st.passes);
        float c = 0.0f;
        for (int i = 0; i < n; ++i) {
            const float m = std::fabs(coeffs[pos[i]]);
            if (!(weight[pos[i]] * m * m > price)) continue;
            float v, j;
            best_value(m, weight[pos[i]], g, price, v, j);
            c += j;
        }
        if (c < best_cost) best_cost = c, best_start = t0;
    }
    return best_start;
}

}  // namespace builder
