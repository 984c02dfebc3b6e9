#pragma once
// The base texture chosen for the prediction rather than by decimation. Every level is predicted
// from the base texture alone by a fixed linear upsampler, so the base whose upsampled image is
// closest to the source (least squares) lowers every level's residual: its energy, its mean and
// its clipping. The upsampler is separable, so the fit is too: with M the one-dimensional
// upsampler from the base to the fitted level, the base is P S P^T with P = (M^T M)^-1 M^T, where
// M^T M is a narrow band matrix solved exactly (Cholesky).
//
// Float rule: the fit runs in double and rounds once, to the nearest byte, clamped to 0..255.
// Its result depends only on its input (each row and column is solved alone, in a fixed order
// of operations), never on the number of threads.
#include <vector>

#include "builder/parallel.h"
#include "builder/planes.h"

namespace builder {

// The one-dimensional upsampler from n base pixels through `steps` doublings (the viewer's
// (-1, 9, 9, -1) / 16 step, base coordinates clamped to its edges, the margins of each step
// feeding the next, without its integer rounding): column j's nonzero run.
struct UpsamplerColumns {
    int n = 0, steps = 0, fine = 0;           // fine = n << steps
    std::vector<int> first;                   // by base pixel j: the first fine pixel it reaches
    std::vector<std::vector<double>> weight;  // by j: its weights from `first` on
    UpsamplerColumns(int n, int steps);
};

// Writes to `base` (target.w >> steps square, margin 0) the least-squares base for `target`, a
// square source level `steps` doublings above the base (steps 1..4). target.w must be a multiple
// of 1 << steps and the base at least 4 pixels wide.
void fit_base(const Planes& target, int steps, Planes& base, Pool& pool);

}  // namespace builder
