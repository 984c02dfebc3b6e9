#pragma once
// Whole-image passes of the pyramid: the decimation that makes each coarser source level and
// the viewer's four-point prediction computed for a whole sub-image at once.
#include "builder/parallel.h"
#include "builder/planes.h"

namespace builder {

// The margin every prediction carries: the viewer predicts each tile with four extra pixels on
// every side, and those pixels feed the next level's taps.
constexpr int kPredictionMargin = 4;

// Halves `src` (w x h, both even) into `dst` (w/2 x h/2, margin 0) with the half-band filter
// (-1 0 9 16 9 0 -1)/32 in both directions, centred on the even source pixels so that coarse
// pixel N sits exactly where the viewer's upsampler puts it (fine pixel 2N). Edges repeat the
// last pixel, like the viewer's clamping at the base texture.
void decimate(const Planes& src, Planes& dst, Pool& pool);

// The viewer's upsampling step over a whole image: `dst` becomes 2w x 2h with a margin of 4,
// every pixel (margin included) equal to what the per-tile synthesis computes for it. `src`
// needs a margin of at least 4: for the base texture, a clamped copy (clamp_margin), for the
// levels above, the previous prediction.
void upsample(const Planes& src, Planes& dst, Pool& pool);

// Same as upsample, but only target rows [y0, y1) (margin rows included, -4 <= y0 < y1 <= 2h+4)
// into `dst`, which must already have the full target geometry; used to make the finest level in
// strips.
void upsample_rows(const Planes& src, Planes& dst, int y0, int y1);

}  // namespace builder
