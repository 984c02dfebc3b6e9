#pragma once
// Smoothing across the borders of a one-file picture's stored tiles. Each HTJ2K tile is coded on
// its own, its wavelet mirrored at its edges, so the two sides of a border carry errors that do
// not match: on smooth ground at low qualities the error steps 1.5 times as much across a border
// as inside a tile, a faint grid. The filter takes, on each line crossing a border where both
// sides are smooth, the step between the two border pixels beyond the gradient on either side,
// and moves part of it into the two pixels on each side. It reads and writes only those four
// pixels, so filtering a window that reaches two pixels past a render tile gives the render tile
// exactly what filtering the whole level would: tiles drawn apart still agree at their edges.
#include <cstddef>
#include <cstdint>

struct BorderFilter {
    int strength = 0;     // share of the excess step moved into each border pixel, /256; 0: off
    int max_excess2 = 0;  // the largest excess step filtered, doubled, in grey levels
    int max_side = 0;     // the largest step between the two pixels on either side
    bool on() const { return strength > 0; }
};

// The filter for HTJ2K tiles coded at `quality` (0..100): half the excess each side (all of it)
// up to quality 75, halving every 7.5 quality points above, where the steps are finer than a grey
// level and moving whole levels adds more error than it takes out; excess steps up to two
// quantisation steps, sides up to one. Looser limits take photographs' grain for the grid's step:
// at quality 30 four steps and two cost them 0.08 dB and left the grid no fainter.
BorderFilter border_filter_for_quality(int quality);

// Filters a w x h window of four-byte pixels (red, green, blue, unused), rows `stride` bytes apart:
// first across the vertical borders, between columns c - 1 and c for each of the `ncols` values
// c in `cols`, then across the horizontal borders, between rows r - 1 and r for each r in `rows`.
// Every c must lie in 2 .. w - 2 and every r in 2 .. h - 2.
void filter_tile_borders(const BorderFilter& f, uint8_t* px, size_t stride, int w, int h,
                         const int* cols, int ncols, const int* rows, int nrows);
