#pragma once
// What the rate-distortion harness measures of a decoded picture against its source, whatever
// made it (a data set of ours or another codec's file): RGB PSNR over every sample, and the tile
// grid's measure of builder/seam.h on a grid of any tile size. Both pictures are read as rows
// from top to bottom, a band of tile rows at a time, so that a 16384 x 16384 picture costs a few
// bands of memory, not the picture.
#include <cstdint>
#include <memory>
#include <string>

#include "builder/row_source.h"
#include "builder/seam.h"

namespace rd {

struct Comparison {
    uint32_t width = 0, height = 0;
    int tile = 0;
    double sse = 0;        // squared errors, every channel of every pixel
    uint64_t samples = 0;  // 3 per pixel
    builder::SeamStats seams;
    // Pooled RGB PSNR for 8-bit samples; +inf when the pictures are equal.
    double psnr_db() const;
};

// Compares `decoded` with `source` on a grid of `tile`-pixel tiles from the top-left corner:
// border steps between columns (and rows) k * tile - 1 and k * tile, middle steps between
// k * tile + tile / 2 - 1 and k * tile + tile / 2, each only where builder::smooth_step finds the
// source smooth. Throws std::invalid_argument when the sizes differ or `tile` is not an even
// number from 4 up, std::runtime_error when a picture cannot be read.
// Steps at multiples of `skip_grid` (when above 0) are left out of both: the picture's own grid,
// where a mosaic's cells meet and every coder's error steps.
Comparison compare(builder::RowSource& source, builder::RowSource& decoded, int tile,
                   int skip_grid = 0);

// The finest level of a one-file picture as the viewer shows it (its stored tiles decoded, their
// borders smoothed), as rows. Throws std::runtime_error ("PATH: fault") when the file does not
// open or a tile is damaged.
// `tile_size` (when not null) receives the file's stored tile size.
std::unique_ptr<builder::RowSource> open_qvk_rows(const std::string& path, int* tile_size);

}  // namespace rd
