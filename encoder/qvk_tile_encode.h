#pragma once
// The tile encoders of the one-file picture form (store/qvk_format.h names the coders; their
// decoders are in decoder/qvk_tile.h).
#include <cstdint>
#include <vector>

#include "store/qvk_format.h"

// Codes a w x h tile (1..tile each, `tile` a size qvk_tile_size_ok allows) whose pixels are `rgb`
// (three bytes each, rows `stride` bytes apart) with `coder` at `quality` (0..100; the lossless
// coder ignores it), replacing `out`. False (and `out` empty) when the coder is unknown or the size
// is out of range. Thread-safe (each thread keeps its own compressor). The deflate coder's bytes
// depend only on the pixels; HTJ2K's may not: OpenJPH 0.9 codes an all-zero code block at a
// band's right edge, or leaves it out, by what its line buffers' padding happens to hold (memory
// it never writes). Either way the block decodes to zeros, so the pixels depend only on the
// input.
bool encode_qvk_tile(uint32_t coder, int quality, const uint8_t* rgb, size_t stride, int tile,
                     int w, int h, std::vector<uint8_t>& out);
// The same for a file of 64-pixel tiles.
inline bool encode_qvk_tile(uint32_t coder, int quality, const uint8_t* rgb, int stride, int w,
                            int h, std::vector<uint8_t>& out) {
    out.clear();
    return stride >= 0 &&
           encode_qvk_tile(coder, quality, rgb, size_t(stride), kQvkTileSize, w, h, out);
}
