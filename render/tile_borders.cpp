// Smoothing across stored tiles' borders (render/tile_borders.h).
#include "render/tile_borders.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "store/qvk_format.h"

namespace {

// v / d rounded, halves up (d > 0). A move of half a grey level each way then moves one of the
// two pixels, which takes a one-level step away; rounding both the same way would flip it.
int div_round_up(int v, int d) {
    const int n = v + d / 2;
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

uint8_t clamp8(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

// One line across a border: q0 points at the first pixel after it, `step` bytes to the next.
void filter_line(const BorderFilter& f, uint8_t* q0, ptrdiff_t step) {
    for (int c = 0; c < 3; ++c) {
        uint8_t* b = q0 + c;
        const int p1 = b[-2 * step], p0 = b[-step], q = b[0], q1 = b[step];
        if (std::abs(p1 - p0) > f.max_side || std::abs(q1 - q) > f.max_side) continue;
        // Twice the step beyond the mean of the gradients on either side.
        const int excess2 = 2 * (q - p0) - ((p0 - p1) + (q1 - q));
        if (excess2 == 0 || std::abs(excess2) > f.max_excess2) continue;
        const int n = excess2 * f.strength;  // the inner pixels' move, in 1/512 grey level
        b[-2 * step] = clamp8(p1 + div_round_up(n, 1536));
        b[-step] = clamp8(p0 + div_round_up(n, 512));
        b[0] = clamp8(q + div_round_up(-n, 512));
        b[step] = clamp8(q1 + div_round_up(-n, 1536));
    }
}

}  // namespace

BorderFilter border_filter_for_quality(int quality) {
    quality = std::clamp(quality, 0, 100);
    const double share = quality <= 75 ? 0.5 : 0.5 * std::pow(2.0, -(quality - 75) / 7.5);
    const double step = double(qvk_htj2k_qstep(quality)) * 255.0;  // grey levels
    BorderFilter f;
    f.strength = int(std::lround(256 * share));
    f.max_excess2 = std::max(2, int(std::lround(4 * step)));
    f.max_side = std::max(1, int(std::lround(step)));
    return f;
}

void filter_tile_borders(const BorderFilter& f, uint8_t* px, size_t stride, int w, int h,
                         const int* cols, int ncols, const int* rows, int nrows) {
    if (!f.on()) return;
    for (int i = 0; i < ncols; ++i)
        for (int y = 0; y < h; ++y)
            filter_line(f, px + size_t(y) * stride + 4 * size_t(cols[i]), 4);
    for (int i = 0; i < nrows; ++i)
        for (int x = 0; x < w; ++x)
            filter_line(f, px + size_t(rows[i]) * stride + 4 * size_t(x), ptrdiff_t(stride));
}
