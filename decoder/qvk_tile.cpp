// Tile decoders of the one-file picture form (decoder/qvk_tile.h).
#include "decoder/qvk_tile.h"

#include <zlib.h>
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstring>
#include <vector>

#include "decoder/htj2k_codestream.h"
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

// Halves a w x h block of four-byte pixels in place: each pixel the rounded mean of a 2 x 2
// block, the last column or row repeated past an odd edge (as the writer halves its levels).
void halve_in_place(uint8_t* px, size_t stride, int w, int h) {
    for (int oy = 0; 2 * oy < h; ++oy) {
        const uint8_t* a = px + size_t(2 * oy) * stride;
        const uint8_t* b = 2 * oy + 1 < h ? a + stride : a;
        uint8_t* o = px + size_t(oy) * stride;
        for (int ox = 0; 2 * ox < w; ++ox) {
            const int i = 8 * ox, j = 2 * ox + 1 < w ? i + 4 : i;
            for (int c = 0; c < 3; ++c)
                o[4 * ox + c] = uint8_t((a[i + c] + a[j + c] + b[i + c] + b[j + c] + 2) >> 2);
            o[4 * ox + 3] = 255;
        }
    }
}

// The codestream must be of exactly w x h pixels (decode_htj2k checks its size against these
// before the library sees it). Its low-pass bands give the first halvings; a tile too small for
// `reduce` decompositions gets the rest as 2 x 2 means. Pixels beyond the result are blackened.
bool decode_htj2k_tile(const uint8_t* bytes, size_t n, int tile, int w, int h, int reduce,
                       uint8_t* out, size_t stride) {
    const int skip = std::min(reduce, htj2k_levels_for(w, h, kQvkHtj2kLevels));
    int ow = htj2k_reduced_side(w, skip), oh = htj2k_reduced_side(h, skip);
    if (skip == reduce) {
        if (!decode_htj2k(bytes, n, w, h, skip, out, stride, 4)) return false;
    } else {
        // Wider or taller than `out` until halved: decoded apart, halved, then copied.
        thread_local std::vector<uint8_t> tls_wide;
        const size_t wide_stride = 4 * size_t(ow);
        tls_wide.resize(wide_stride * size_t(oh));
        if (!decode_htj2k(bytes, n, w, h, skip, tls_wide.data(), wide_stride, 4)) return false;
        for (int k = skip; k < reduce; ++k) {
            halve_in_place(tls_wide.data(), wide_stride, ow, oh);
            ow = (ow + 1) / 2;
            oh = (oh + 1) / 2;
        }
        for (int y = 0; y < oh; ++y)
            memcpy(out + size_t(y) * stride, tls_wide.data() + size_t(y) * wide_stride,
                   4 * size_t(ow));
    }
    const int side = tile >> reduce;
    for (int y = 0; y < side; ++y) {
        uint8_t* o = out + size_t(y) * stride;
        if (y >= oh)
            memset(o, 0, 4 * size_t(side));
        else
            memset(o + 4 * size_t(ow), 0, 4 * size_t(side - ow));
    }
    return true;
}

}  // namespace

bool decode_qvk_tile_reduced(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                             int reduce, uint8_t* out, size_t stride) {
    if (tile < 0 || !qvk_tile_size_ok(uint32_t(tile)) || w < 1 || w > tile || h < 1 || h > tile ||
        reduce < 0 || reduce > qvk_max_reduce(coder, tile) || stride < 4 * size_t(tile >> reduce))
        return false;
    if (coder == uint32_t(QvkCoder::deflate_rgb))
        return decode_deflate_rgb(bytes, n, tile, w, h, out, stride);
    if (coder == uint32_t(QvkCoder::htj2k))
        return decode_htj2k_tile(bytes, n, tile, w, h, reduce, out, stride);
    return false;
}

bool decode_qvk_tile(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                     uint8_t* out, size_t stride) {
    return decode_qvk_tile_reduced(coder, bytes, n, tile, w, h, 0, out, stride);
}
