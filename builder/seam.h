#pragma once
// How visible the tile grid is: the steps that the shown picture's error (shown - source) makes
// between neighbouring pixels across tile borders, against the same steps across the middle of
// the tiles, both only where the source is smooth. In a smooth area (a sky) the source has no
// step of its own, so the error's step is what the eye sees; a grid shows as border steps larger
// than the middle ones.
#include <cstdint>

#include "builder/planes.h"

namespace builder {

// The error of a tile's outer rows and columns, kept until its neighbours are decoded too.
struct TileEdges {
    int8_t left[3][64], right[3][64], top[3][64], bottom[3][64];  // by channel, along the edge
};

// Sums of absolute error steps (grey levels, one per channel and smooth pixel pair).
struct SeamStats {
    double border_sum = 0, middle_sum = 0;
    int64_t border_pairs = 0, middle_pairs = 0;
    void add(const SeamStats& o) {
        border_sum += o.border_sum, middle_sum += o.middle_sum;
        border_pairs += o.border_pairs, middle_pairs += o.middle_pairs;
    }
    double border() const { return border_pairs ? border_sum / double(border_pairs) : 0.0; }
    double middle() const { return middle_pairs ? middle_sum / double(middle_pairs) : 0.0; }
};

// Whether the source is smooth around the step between pixel (x - 1, y) and (x, y) (dx = 1) or
// between (x, y - 1) and (x, y) (dx = 0): in every channel the four pixels across it, from two
// before to one after, span at most kSmoothSpan grey levels.
constexpr int kSmoothSpan = 3;
bool smooth_step(const Planes& source, int x, int y, bool across_columns);

// The tile at (x0, y0): stores its outer error lines into `edges` and adds its middle steps
// (between columns 31 and 32 and between rows 31 and 32) to `stats`. `error` is the tile's
// shown - source by channel, row and column; only rows and columns 0, 31, 32 and 63 are read.
void tile_edges(const Planes& source, int x0, int y0, const int16_t error[3][64][64],
                TileEdges& edges, SeamStats& stats);

// Adds the steps across every border between two tiles of a level `across` tiles square, whose
// edges are stored by tile number (row-major).
void border_steps(const Planes& source, int across, const TileEdges* edges, SeamStats& stats);

}  // namespace builder
