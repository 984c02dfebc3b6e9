#pragma once
// Fitting the restoration filter of decoder/tile_filter.h to a decoded tile: per colour channel
// the four pair taps that bring the decoded pixels closest to the source in squared error (least
// squares, the centre tap keeping the gain at one), rounded to 1/128. A channel is left off
// where the rounded filter would take out less than kTileFilterMinGain of its squared error:
// there it would cost the decoder a pass for nothing a viewer could see.
#include <cstddef>
#include <cstdint>

#include "decoder/tile_filter.h"

constexpr double kTileFilterMinGain = 0.02;

// `src` and `dec` are `w` x `h` RGB pixels, three bytes each, rows `src_stride` and
// `dec_stride` bytes apart.
TileFilter design_tile_filter(const uint8_t* src, size_t src_stride, const uint8_t* dec,
                              size_t dec_stride, int w, int h);

// The same from the decoded pixels as three planes of samples (decode_htj2k_planes):
// channel c's row y at dec[c] + y * dec_stride, with one element of room on every side (rows -1
// and h, columns -1 and w), which this fills with the edges repeated.
TileFilter design_tile_filter_planes(const uint8_t* src, size_t src_stride, int16_t* const dec[3],
                                     size_t dec_stride, int w, int h);
