#pragma once
// The restoration filter a one-file picture's HTJ2K tile may carry: the encoder, which has the
// source, fits per colour channel the small symmetric filter that brings the decoded tile
// closest to it (least squares), and the decoder applies it to the whole decoded tile. On
// pictures whose fine detail the wavelet's quantisation bends in a way a filter can undo it
// gains much (the procedural world: about 1 dB at every quality); elsewhere the encoder leaves
// the channel off.
//
// The filter is 3 x 3, point-symmetric: the centre and four pairs of taps,
//     pair 0: the left and right neighbours    pair 1: the ones above and below
//     pair 2: up-left and down-right           pair 3: up-right and down-left
// each tap in 1/128, the centre 128 less twice the pairs' sum, so flat ground stays flat.
// (A 13-tap diamond gained 0.06 dB more on the world and cost half as much again to apply.)
// Pixels beyond the tile's edge are the edge's own (clamped): the filter is the tile's alone,
// and its neighbours need not be decoded.
//
// Carried in the codestream's main header as a comment segment (COM, binary), which any other
// JPEG 2000 reader skips:
//     FF 64          COM marker
//     Lcom  u16      segment length after the marker: 2 + 2 + 4 + 1 + 4 * channels
//     Rcom  u16      0 (binary)
//     "QVF1"         what follows is this filter, version 1
//     mask  u8       bit c set: channel c (red, green, blue) is filtered; bits 3-7 zero
//     taps  4 x i8   for each channel in the mask, in channel order: pairs 0..3
// A comment of ours whose length does not match its mask, or whose mask has other bits, is
// damage and the codestream is refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kTileFilterPairs = 4;
constexpr int kTileFilterOne = 128;  // a tap of 1

struct TileFilter {
    uint8_t mask = 0;  // channels filtered
    int8_t taps[3][kTileFilterPairs] = {};
    bool on() const { return mask != 0; }
};

bool operator==(const TileFilter& a, const TileFilter& b);

// The COM segment, marker included, that carries `f` (f.on() must hold).
std::vector<uint8_t> tile_filter_segment(const TileFilter& f);

// Reads a COM segment's body (`body` points after Lcom, `n` = Lcom - 2 bytes). Returns 0 when it
// is not ours (another comment), 1 and fills `f` when it is a sound filter, -1 when it is ours
// but damaged (and sets `why`).
int parse_tile_filter(const uint8_t* body, size_t n, TileFilter& f, std::string* why);

// Filters `w` x `h` pixels at `px`, rows `stride` bytes apart, `pixel_bytes` (3 or 4) a pixel
// (red, green, blue first), in place. `scratch` is reused between calls.
void apply_tile_filter(const TileFilter& f, uint8_t* px, size_t stride, int w, int h,
                       int pixel_bytes, std::vector<int16_t>& scratch);

// The kernel: one output row of one channel. `above`, `mid` and `below` each point at `w`
// values 0..255 with one more readable on either side (the edge repeated); `out` gets the
// filtered row. Versions in the kernel table (decoder/kernels.h), all bit-identical.
using TileFilterRowFn = void (*)(const int8_t* taps, const int16_t* above, const int16_t* mid,
                                 const int16_t* below, int w, int16_t* out);
void tile_filter_row_reference(const int8_t* taps, const int16_t* above, const int16_t* mid,
                               const int16_t* below, int w, int16_t* out);
#if defined(__x86_64__) && defined(__GNUC__)
void tile_filter_row_avx2(const int8_t* taps, const int16_t* above, const int16_t* mid,
                          const int16_t* below, int w, int16_t* out);
#endif
