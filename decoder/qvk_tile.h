#pragma once
// The tile decoders of the one-file picture form (store/qvk_format.h names the coders; their
// encoders are in encoder/qvk_tile_encode.h). Decoding checks everything it reads: damaged bytes
// give false, never a read or write outside the buffers.
#include <cstddef>
#include <cstdint>

#include "store/qvk_format.h"

// Decodes a w x h tile (1..tile each) of a file stored in tile x tile tiles (qvk_tile_size_ok),
// coded with `coder`, into `out`: `tile` rows of `tile` four-byte pixels (byte 0 red, 1 green,
// 2 blue, 3 unspecified), rows `stride` (at least 4 * tile) bytes apart; pixels beyond w or h are
// black. False when the bytes are damaged, the sizes are out of range or the coder is unknown
// (`out` then unspecified).
bool decode_qvk_tile(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                     uint8_t* out, size_t stride);
// Decodes a w x h tile as above with `reduce` (0 .. qvk_max_reduce) resolution levels left out:
// `tile` >> reduce rows of as many pixels, the tile's ceil(w / 2^reduce) x ceil(h / 2^reduce)
// and black beyond. Used for the levels a file derives from its stored ones.
bool decode_qvk_tile_reduced(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                             int reduce, uint8_t* out, size_t stride);
// The same for a file of 64-pixel tiles.
inline bool decode_qvk_tile(uint32_t coder, const uint8_t* bytes, size_t n, int w, int h,
                            uint8_t* out, int stride) {
    return stride >= 0 && decode_qvk_tile(coder, bytes, n, kQvkTileSize, w, h, out, size_t(stride));
}
