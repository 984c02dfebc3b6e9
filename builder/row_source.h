#pragma once
// Where a one-file picture's pixels come from: rows handed over top to bottom, a strip at a time,
// so that no source ever holds more than a few strips, whatever the picture's size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace builder {

class RowSource {
  public:
    virtual ~RowSource() = default;
    virtual uint32_t width() const = 0;
    virtual uint32_t height() const = 0;
    // Writes rows y0 .. y0 + n - 1 to `rgb`, three bytes a pixel, rows `stride` bytes apart.
    // Called top to bottom, each row once, from one thread at a time (not always the same one).
    // Throws std::runtime_error with a readable message when the pixels cannot be had.
    virtual void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) = 0;
    virtual std::string describe() const = 0;
};

// An image file (any format libvips reads) at its own size, converted to 8-bit sRGB with any
// alpha flattened onto black, read in one pass from top to bottom. Throws std::runtime_error
// ("cannot read PATH: why") when the file cannot be opened or is larger than a picture may be.
std::unique_ptr<RowSource> make_image_rows(const std::string& path);

// The procedural world (the same world as the folder data set's, for a seed) at the first level
// of its refinement that is at least width x height, cropped to its top-left width x height.
// Level 1 is 4096 x 2048; 65536 x 32768 is the folder data set's finest level. Memory is that of
// level 1 (about 100 MB) plus a few rows of every level. `threads` (0: every core) compute
// bands of columns side by side; the pixels do not depend on them. Throws std::invalid_argument
// for a side outside 1 .. 2097152.
std::unique_ptr<RowSource> make_world_rows(uint64_t seed, uint32_t width, uint32_t height,
                                           int threads = 0);

}  // namespace builder
