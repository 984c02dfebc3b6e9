#pragma once
// Decoding of the HTJ2K codestreams that encoder/htj2k_encode.h writes, through OpenJPH. The
// bytes are checked (decoder/htj2k_codestream.h) before the library sees them, and whatever the
// library throws or warns about becomes a false return: damaged bytes never end the process.
#include <cstddef>
#include <cstdint>
#include <string>

// Side of a block of `side` pixels with `skip` finest resolution levels left out.
inline int htj2k_reduced_side(int side, int skip) {
    return int((int64_t(side) + (int64_t(1) << skip) - 1) >> skip);
}

// Decodes the codestream bytes[0, n) of a `width` x `height` block (the size the caller's index
// gives; the codestream must agree), leaving out the `skip` finest resolution levels (0 .. the
// codestream's decompositions), into htj2k_reduced_side(width, skip) x
// htj2k_reduced_side(height, skip) pixels at `out`, rows `stride` bytes apart, `pixel_bytes`
// (3 or 4) bytes a pixel: red, green, blue, then 255 when there are four. False (and, when
// `error` is given, what went wrong) when the bytes are damaged or the arguments out of range;
// `out` may then be partly written. Thread-safe.
bool decode_htj2k(const uint8_t* bytes, size_t n, int width, int height, int skip, uint8_t* out,
                  size_t stride, int pixel_bytes, std::string* error = nullptr);

// The whole resolution into three planes of samples, 0 .. 255, without the restoration filter:
// component c's row y at planes[c] + y * stride (elements). What the encoder reads back to fit
// the filter, with no interleaving to undo. Same checks and failures as decode_htj2k.
bool decode_htj2k_planes(const uint8_t* bytes, size_t n, int width, int height,
                         int16_t* const planes[3], size_t stride, std::string* error = nullptr);
