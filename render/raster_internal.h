#pragma once
// What the drawing kernels (raster.cpp and raster_sse2.cpp) share: the position rules. Both
// forms must sample exactly the same tile and texture positions, so these are the only copies.
#include <cmath>
#include <cstdint>

#include "render/raster.h"
#include "store/format.h"

namespace raster {

constexpr double kScreenLimit = 1073741824.0;  // 2^30: far beyond any window, inside int range

inline int clamp_tile(float t) {
    // trunc, clamped to the tile; written so that NaN and infinities land on an edge too.
    if (!(t >= 1.0f)) return 0;
    if (!(t < 63.0f)) return 63;
    return int(t);
}

inline int weight_of(float t, int whole) {
    return int((double(t) - whole) * 32767.0);
}

inline bool corners_usable(const TileCorners& c) {
    return std::fabs(c.sx0) < kScreenLimit && std::fabs(c.sy0) < kScreenLimit &&
           std::fabs(c.sx1) < kScreenLimit && std::fabs(c.sy1) < kScreenLimit;
}

// Level-1 image positions are tested against the four by two grid of 1024-pixel sub-images
// before any integer conversion: trunc(w) lies in 0..limit - 1 exactly when -1 < w < limit.
inline bool inside_open(float w, float limit) {
    return w > -1.0f && w < limit;
}
constexpr float kLevel1Width = float(kSubImageColumns * kBaseTexSize);  // 4096
constexpr float kLevel1Height = float(kSubImageRows * kBaseTexSize);    // 2048

// Screen positions of a tile, as every tile kernel derives them from the corners.
struct TileSpan {
    int ix0, iy0, ix1, iy1;  // columns ix0 .. ix1 - 1, rows iy0 .. iy1 (inclusive)
    float du, dv;            // tile pixels per screen pixel
};
inline TileSpan tile_span(const TileCorners& c) {
    TileSpan s;
    s.ix0 = int(c.sx0);
    s.iy0 = int(c.sy0);
    s.ix1 = int(c.sx1);
    s.iy1 = int(c.sy1);
    s.du = float(64.0 / (double(c.sx1) - double(c.sx0)));
    s.dv = float(64.0 / (double(c.sy1) - double(c.sy0)));
    return s;
}

}  // namespace raster
