#pragma once
// HTJ2K coding of an 8-bit RGB block through OpenJPH, into a standard codestream in memory
// (decoder/htj2k_decode.h reads it back; so can any JPEG 2000 reader that knows HT blocks, which
// is what lets us compare with other coders byte for byte): irreversible 9/7 wavelet, colour
// transform, 64 x 64 code blocks, one tile, one quality layer.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Htj2kEncodeParams {
    // Wavelet decompositions wanted; a block too small for them gets fewer (htj2k_levels_for in
    // decoder/htj2k_codestream.h).
    int levels = 5;
    // Base quantisation step of the irreversible path, as a fraction of the sample range:
    // 1/256 is one grey level in the lowest band; the library derives every band's step from it.
    float qstep = 1.0f / 256;
    // Decode the codestream, fit the restoration filter of decoder/tile_filter.h to the source
    // and, where it helps, carry it in a comment segment (one decode and one fit more per block).
    bool restoration_filter = false;
};

// Codes `width` x `height` (1 .. kHtj2kMaxSide each) pixels `rgb`, three bytes each, rows
// `stride` bytes apart, replacing `out` with the codestream. False (with `out` empty and, when
// `error` is given, the reason) when an argument is out of range or the library fails.
// Thread-safe.
bool encode_htj2k(const uint8_t* rgb, size_t stride, int width, int height,
                  const Htj2kEncodeParams& params, std::vector<uint8_t>& out,
                  std::string* error = nullptr);
