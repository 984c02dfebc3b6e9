#pragma once
// Where a data set's pictures come from: the procedural world or an imported image. A source
// delivers one sub-image at a time at the resolution of the finest level being built, so that
// the whole world never has to be in memory at once.
#include <cstdint>
#include <memory>
#include <string>

#include "builder/parallel.h"
#include "builder/planes.h"

namespace builder {

class Source {
  public:
    virtual ~Source() = default;
    // Fills `out` (margin 0) with sub-image `sub` (0..7, column sub % 4, row sub / 4) at `size` x
    // `size` pixels (16384 for a full data set).
    virtual void sub_image(int sub, int size, Planes& out, Pool& pool) = 0;
    virtual std::string describe() const = 0;
};

// The default world: a terrain map with seas, coasts, rivers, relief shading and fine texture,
// refined level by level so that every zoom step adds new structure. Deterministic for a seed.
std::unique_ptr<Source> make_world_source(uint64_t seed);

// contain: all of the picture, letterboxed; cover: fill the world, cropped; native: no
// resampling at all, the picture pixel for pixel from the world's top-left corner at the finest
// level being built (cropped, black where it does not reach).
enum class Fit { contain, cover, native };

// An image file opened with libvips and resampled to the world's 2:1 shape. Throws
// std::runtime_error with a readable message when the file cannot be opened.
std::unique_ptr<Source> make_image_source(const std::string& path, Fit fit);

}  // namespace builder
