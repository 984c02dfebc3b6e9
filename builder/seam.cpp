#include "builder/seam.h"

#include <algorithm>
#include <cstdlib>

namespace builder {

bool smooth_step(const Planes& source, int x, int y, bool across_columns) {
    for (int ch = 0; ch < 3; ++ch) {
        int lo = 255, hi = 0;
        for (int k = -2; k <= 1; ++k) {
            const int xx = across_columns ? std::clamp(x + k, 0, source.w - 1) : x;
            const int yy = across_columns ? y : std::clamp(y + k, 0, source.h - 1);
            const int v = *source.at(ch, xx, yy);
            lo = std::min(lo, v), hi = std::max(hi, v);
        }
        if (hi - lo > kSmoothSpan) return false;
    }
    return true;
}

namespace {

int8_t clip8(int v) {
    return int8_t(std::clamp(v, -127, 127));
}

}  // namespace

void tile_edges(const Planes& source, int x0, int y0, const int16_t error[3][64][64],
                TileEdges& edges, SeamStats& stats) {
    for (int ch = 0; ch < 3; ++ch)
        for (int i = 0; i < 64; ++i) {
            edges.left[ch][i] = clip8(error[ch][i][0]);
            edges.right[ch][i] = clip8(error[ch][i][63]);
            edges.top[ch][i] = clip8(error[ch][0][i]);
            edges.bottom[ch][i] = clip8(error[ch][63][i]);
        }
    for (int i = 0; i < 64; ++i) {
        if (smooth_step(source, x0 + 32, y0 + i, true)) {
            for (int ch = 0; ch < 3; ++ch)
                stats.middle_sum += std::abs(error[ch][i][32] - error[ch][i][31]);
            stats.middle_pairs += 3;
        }
        if (smooth_step(source, x0 + i, y0 + 32, false)) {
            for (int ch = 0; ch < 3; ++ch)
                stats.middle_sum += std::abs(error[ch][32][i] - error[ch][31][i]);
            stats.middle_pairs += 3;
        }
    }
}

void border_steps(const Planes& source, int across, const TileEdges* edges, SeamStats& stats) {
    for (int ty = 0; ty < across; ++ty)
        for (int tx = 0; tx < across; ++tx) {
            const TileEdges& e = edges[size_t(ty) * size_t(across) + size_t(tx)];
            if (tx > 0) {
                const TileEdges& l = edges[size_t(ty) * size_t(across) + size_t(tx - 1)];
                for (int i = 0; i < 64; ++i) {
                    if (!smooth_step(source, tx * 64, ty * 64 + i, true)) continue;
                    for (int ch = 0; ch < 3; ++ch)
                        stats.border_sum += std::abs(int(e.left[ch][i]) - int(l.right[ch][i]));
                    stats.border_pairs += 3;
                }
            }
            if (ty > 0) {
                const TileEdges& u = edges[size_t(ty - 1) * size_t(across) + size_t(tx)];
                for (int i = 0; i < 64; ++i) {
                    if (!smooth_step(source, tx * 64 + i, ty * 64, false)) continue;
                    for (int ch = 0; ch < 3; ++ch)
                        stats.border_sum += std::abs(int(e.top[ch][i]) - int(u.bottom[ch][i]));
                    stats.border_pairs += 3;
                }
            }
        }
}

}  // namespace builder
