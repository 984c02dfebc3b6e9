#pragma once
// The procedural world's fields and their arithmetic, shared by the two ways the world is made:
// one sub-image at a time for a folder data set (world.cpp) and row by row for a one-file picture
// of any size (world_rows.cpp). Both must give the same pixel for the same level and place, so
// every value here depends only on the seed, the level and global coordinates.
//
// Three fields describe the terrain: height (sea below 0), a river field (rivers run along its
// zero lines) and moisture. Level 1 is the world at 4096 x 2048, made by fractal noise; level
// l + 1 doubles level l with four-point interpolation and adds noise scaled to its pixel size.
// Outside the world, level 1 repeats its edge pixels; finer levels refine that margin like any
// other place.
#include <cstdint>
#include <vector>

#include "builder/parallel.h"
#include "builder/planes.h"
#include "encoder/clones.h"

namespace builder {
namespace world {

constexpr int kLevel1W = 4096, kLevel1H = 2048;
constexpr int kFields = 3;  // height, river, moisture

// The world's key for a seed.
uint32_t seed_key(uint64_t seed);

// The three fields at level 1, whole (kLevel1W x kLevel1H floats each, row by row).
struct Level1 {
    std::vector<float> field[kFields];
    // Element (x, y), the nearest edge element outside the world.
    float at(int f, int x, int y) const;
};
void make_level1(uint32_t key, Pool& pool, Level1& out);

// A block of a field; element (x, y) for x in [x0, x0 + w), y in [y0, y0 + h). reset leaves the
// elements unset: the callers write whole rows before reading them, and clearing hundreds of
// megabytes on one thread only to overwrite them cost a tenth of a build.
struct Field {
    int x0 = 0, y0 = 0, w = 0, h = 0;
    std::vector<float, HugePageAllocator<float>> v;
    void reset(int x0_, int y0_, int w_, int h_);
    float* row(int y) { return v.data() + size_t(y - y0) * w - x0; }
    const float* row(int y) const { return v.data() + size_t(y - y0) * w - x0; }
};

// One row at twice the resolution: target column g = g0 + i copies parent column g / 2 when g
// is even and interpolates parent columns k - 1 .. k + 2 (k = g / 2) when it is odd. `p` is
// indexed by parent column; `odd` is scratch for n / 2 + 2 values.
void widen_row(const float* p, int g0, int n, float* odd, float* dst);

// What refining adds to one field at one level.
struct RefineNoise {
    uint32_t key;
    float amp;
};
RefineNoise refine_noise(uint32_t world_key, int field, int level);

// Row gy of a refined field, columns gx .. gx + n - 1, from the parent's rows k - 1 .. k + 2
// (k = gy >> 1) each widened over those columns: row k itself when gy is even, interpolated
// between k and k + 1 when odd; then the level's noise.
void refine_row(const float* above, const float* at, const float* below, const float* below2,
                int gy, int gx, int n, RefineNoise noise, float* out);

// Rows [y0, y1) of `child` from `parent` at half the resolution; the blocks' coordinates are
// relative to global pixel (gx0, gy0) of the child's level (gx0 and gy0 even).
void refine(uint32_t world_key, const Field& parent, Field& child, int f, int level, int gx0,
            int gy0, int y0, int y1);

// The slope factor of relief shading at a level: steeper where a pixel covers less ground.
float relief(int level);

// Colour and relief shading of one row from height h (with the rows above and below; h[-1] and
// h[n] are read), the river field and moisture, into three planes.
void colour_row(const float* __restrict h, const float* __restrict hu, const float* __restrict hd,
                const float* __restrict rv, const float* __restrict mo, float relief, int n,
                uint8_t* __restrict R, uint8_t* __restrict G, uint8_t* __restrict B);

}  // namespace world
}  // namespace builder
