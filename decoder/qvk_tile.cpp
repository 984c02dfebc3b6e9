// Tile decoders of the one-file picture form (decoder/qvk_tile.h).
#include "decoder/qvk_tile.h"

#include <zlib.h>
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <cstring>
#include <vector>

#include "decoder/htj2k_decode.h"

namespace {

#ifdef QUORVIK_HAVE_LIBDEFLATE
struct ThreadDecompressor {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    ~ThreadDecompressor() {
        if (d) libdeflate_free_decompressor(d);
    }
};
thread_local ThreadDecompressor tls_decompressor;
#endif

// Inflates one whole zlib stream that must fill `out` exactly and end where the input ends.
bool inflate_exact(const uint8_t* in, size_t n, uint8_t* out, size_t want) {
#ifdef QUORVIK_HAVE_LIBDEFLATE
    if (libdeflate_decompressor* d = tls_decompressor.d) {
        size_t used = 0;
        return libdeflate_zlib_decompress_ex(d, in, n, out, want, &used, nullptr) ==
                   LIBDEFLATE_SUCCESS &&
               used == n;
    }
#endif
    uLongf got = uLongf(want);
    uLong used = uLong(n);
    return uncompress2(out, &got, in, &used) == Z_OK && got == want && used == n;
}

// The inflated RGB bytes of the tile being decoded: up to 3 MiB for the largest tiles, too
// much for a stack, and kept per thread so that decoding does not allocate each time.
thread_local std::vector<uint8_t> tls_rgb;

bool decode_deflate_rgb(const uint8_t* bytes, size_t n, int tile, int w, int h, uint8_t* out,
                        size_t stride) {
    const size_t row = size_t(w) * 3;
    tls_rgb.resize(row * size_t(h));
    uint8_t* rgb = tls_rgb.data();
    if (!inflate_exact(bytes, n, rgb, row * size_t(h))) return false;
    for (int y = 0; y < tile; ++y) {
        uint8_t* o = out + size_t(y) * stride;
        if (y >= h) {
            memset(o, 0, 4 * size_t(tile));
            continue;
        }
        uint8_t* r = rgb + size_t(y) * row;
        for (size_t i = 3; i < row; ++i) r[i] = uint8_t(r[i] + r[i - 3]);
        for (int x = 0; x < w; ++x) {
            o[4 * x] = r[3 * x];
            o[4 * x + 1] = r[3 * x + 1];
            o[4 * x + 2] = r[3 * x + 2];
            o[4 * x + 3] = 255;
        }
        memset(o + 4 * w, 0, size_t(4 * (tile - w)));
    }
    return true;
}

// The codestream must be of exactly w x h pixels (decode_htj2k checks its size against these
// before the library sees it); the tile's pixels beyond them are blackened here.
bool decode_htj2k_tile(const uint8_t* bytes, size_t n, int tile, int w, int h, uint8_t* out,
                       size_t stride) {
    if (!decode_htj2k(bytes, n, w, h, 0, out, stride, 4)) return false;
    for (int y = 0; y < tile; ++y) {
        uint8_t* o = out + size_t(y) * stride;
        if (y >= h)
            memset(o, 0, 4 * size_t(tile));
        else
            memset(o + 4 * size_t(w), 0, 4 * size_t(tile - w));
    }
    return true;
}

}  // namespace

bool decode_qvk_tile(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                     uint8_t* out, size_t stride) {
    if (tile < 0 || !qvk_tile_size_ok(uint32_t(tile)) || w < 1 || w > tile || h < 1 || h > tile ||
        stride < 4 * size_t(tile))
        return false;
    if (coder == uint32_t(QvkCoder::deflate_rgb))
        return decode_deflate_rgb(bytes, n, tile, w, h, out, stride);
    if (coder == uint32_t(QvkCoder::htj2k))
        return decode_htj2k_tile(bytes, n, tile, w, h, out, stride);
    return false;
}
