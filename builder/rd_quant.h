#pragma once
// Rate-distortion choices for one channel record. The decoder can give a coefficient only the
// values of its start threshold's grid: 0, or floor(5T/4) or floor(7T/4) of the pass (threshold
// T) in which it becomes significant. Coding a plane whose every value already lies on that grid
// makes the plain EZW rule send exactly those values, so the encoder's choices (significant
// early, late or never) are made here, on the plane, by weighted squared error in the picture
// plus a price per coded coefficient; the record then decodes to exactly this plane.
#include <cstdint>

#include "store/format.h"

namespace builder {

// What one unit of channel ch (0 = Y, 1 = Cb, 2 = Cr) becomes in red, green and blue together,
// squared.
double colour_gain(int ch);

// The squared error one unit of error in coefficient p adds to the tile's pixels, for a plane of
// channel ch and RGB pixels: the energy of the coefficient's pattern after the viewer's inverse
// transform, times colour_gain(ch).
struct CoefficientWeights {
    float w[3][kTileCoeffs];
};
const CoefficientWeights& coefficient_weights();

// The grid of a start threshold: by pass, its threshold and its two values; `passes` of them
// (a start of 0 or 1 runs none).
struct StartGrid {
    int passes = 0;
    float t[8] = {}, lo[8] = {}, hi[8] = {};
    explicit StartGrid(int start, int max_passes);
};

// A start grid's n magnitudes in ascending order (the last pass's two values first), and the
// midpoints between neighbours.
struct SortedGrid {
    int n = 0;
    float v[16] = {}, mid[16] = {};
    explicit SortedGrid(const StartGrid& g) {
        for (int k = g.passes - 1; k >= 0; --k) v[n++] = g.lo[k], v[n++] = g.hi[k];
        for (int j = 0; j + 1 < n; ++j) mid[j] = (v[j] + v[j + 1]) * 0.5f;
    }
};

// Chooses, for every coefficient of `coeffs`, the value of `grid` (or 0) that minimises
// weight * (c - v)^2 + price * (v != 0): the grid value nearest to |c| (a magnitude exactly
// halfway takes the upper one), or 0 where that costs less. Writes it with c's sign to `out`
// (4096 floats; 0 as +0). `weight` is one channel's row of coefficient_weights(). Plain loop;
// the reference.
void quantize_plane_plain(const float* coeffs, const float* weight, const StartGrid& grid,
                          float price, float* out);
// The same, vectorised; identical results.
void quantize_plane(const float* coeffs, const float* weight, const StartGrid& grid, float price,
                    float* out);

// Drops whole trees of a quantized plane `q` (by position) where what their coded coefficients
// gain, weighted error less `price` each, does not pay for the isolated zeros (`visit_price`
// each) that their insignificant ancestors inside the tree would then need.
void prune_trees(const float* coeffs, const float* weight, float price, float visit_price,
                 float* q);
// The same as a plain walk of the decoder's tree in scan order; the reference.
void prune_trees_plain(const float* coeffs, const float* weight, float price, float visit_price,
                       float* q);

// The start threshold (2^passes..255: those that run all of the file's `passes` passes, 1..7)
// whose grid gives the lowest weighted error plus price over the coefficients that matter most
// for it: the 16 coarsest (the tile's mean and its largest patterns).
int choose_start(const float* coeffs, const float* weight, float price, int passes);

}  // namespace builder
