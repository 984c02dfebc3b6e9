#pragma once
// Joint choice of a record's coarsest coefficients in the picture. The per-coefficient choices
// (rd_quant.h) weigh each coefficient's error alone, as if the patterns of the inverse transform
// were orthogonal. They are not, and what the dropped coefficients leave behind adds up: every
// tile must cancel the zero plane's offsets (-4.5 in column 0 to -7.5 in column 63), which the
// forward transform spreads as +0.5 over hundreds of fine coefficients, each too small for the
// decoder's grid (2 or more). Dropped together they leave a ramp of three grey levels across
// every tile, and in smooth areas (skies) that ramp is the tile grid. The coarsest coefficients'
// patterns span such ramps: choosing their grid values against the whole error that the other
// choices leave, rather than against their own coefficient's error, cancels it.
//
// The error is taken in the residual plane (pre-compensated at the damped border, so there it
// weighs as much as inside: the border is where a leftover shows as a seam).
// Float rule: patterns and Gram matrix in double, the error plane in float as the viewer's
// inverse transform computes it.
#include "builder/rd_quant.h"

namespace builder {

// The coefficients refined: rows and columns 0..kCoarseSide-1 (the DC coefficient and the
// bands of sizes 2, 4 and 8).
constexpr int kCoarseSide = 8;
constexpr int kCoarseCount = kCoarseSide * kCoarseSide;

// A squared step of the shown error between a tile's first and last column (or row), the
// residual's error there taken at what the viewer keeps of it (kFirst, kLast), weighs this many
// times a squared error inside the tile: tiles whose errors do not line up at their borders are
// what shows as a grid.
constexpr double kSeamWeight = 8.0;
constexpr double kFirst = 0.5, kLast = 2.0 / 3.0;

// Re-chooses q's coefficients of the coarse block, each among 0 and `grid`'s values, by
// steepest descent on colour_gain(ch) * (|E|^2 + kSeamWeight * (border steps of E)^2) + price *
// (coded coefficients), E = I(c) - I(q) and I the viewer's inverse transform; the other
// coefficients stay as they are. `coeffs` is c.
void refine_coarse(const float* coeffs, int ch, const StartGrid& grid, float price, float* q);

// The gradient that refine_coarse descends, for an error plane e (64 x 64, the shown error's
// residual part): g[r * kCoarseSide + c] = <e, pattern of coefficient (r, c)> plus kSeamWeight
// times the correlation of e's border steps with the pattern's.
void coarse_correlations(const float* e, double* g);

// The steepest descent of refine_coarse over the coarse block's values qc (by coarse index
// r * kCoarseSide + c): g holds the correlations of the error with every coefficient's pattern
// (updated as values change), gram their Gram matrix, and every value stays among 0 and `mags`.
// Plain loop (the reference) and a vectorised one; identical results.
void coarse_descent_plain(const double (*gram)[kCoarseCount], const SortedGrid& mags, double gain,
                          float price, double* g, float* qc);
void coarse_descent(const double (*gram)[kCoarseCount], const SortedGrid& mags, double gain,
                    float price, double* g, float* qc);

// The value among n ascending magnitudes nearest to m (the first of two equally near), negated
// when `negative`. Plain scan of all of them (the reference) and one that stops once the
// distances rise; identical results.
float nearest_magnitude_plain(const float* mags, int n, double m, bool negative);
float nearest_magnitude(const float* mags, int n, double m, bool negative);

}  // namespace builder
