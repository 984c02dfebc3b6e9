// Tile encoders of the one-file picture form (encoder/qvk_tile_encode.h).
#include "encoder/qvk_tile_encode.h"

#include <zlib.h>
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "encoder/htj2k_encode.h"

namespace {

// Level 1 halves the time of a build against level 6 for about 3 % (photographs) to 12 % (the
// world's fine noise) more bytes: a lossless stand-in coder is not worth waiting for.
constexpr int kDeflateLevel = 1;

#ifdef QUORVIK_HAVE_LIBDEFLATE
struct ThreadCompressor {
    libdeflate_compressor* c = libdeflate_alloc_compressor(kDeflateLevel);
    ~ThreadCompressor() {
        if (c) libdeflate_free_compressor(c);
    }
};
thread_local ThreadCompressor tls_compressor;
#endif

void zlib_stream(const uint8_t* in, size_t n, std::vector<uint8_t>& out) {
#ifdef QUORVIK_HAVE_LIBDEFLATE
    if (libdeflate_compressor* c = tls_compressor.c) {
        out.resize(libdeflate_zlib_compress_bound(c, n));
        const size_t got = libdeflate_zlib_compress(c, in, n, out.data(), out.size());
        if (got > 0) {
            out.resize(got);
            return;
        }
    }
#endif
    uLongf got = compressBound(uLong(n));
    out.resize(got);
    compress2(out.data(), &got, in, uLong(n), kDeflateLevel);
    out.resize(got);
}

}  // namespace

bool encode_qvk_tile(uint32_t coder, int quality, const uint8_t* rgb, size_t stride, int tile,
                     int w, int h, std::vector<uint8_t>& out) {
    out.clear();
    if (!qvk_coder_ok(coder) || tile < 0 || !qvk_tile_size_ok(uint32_t(tile)) || w < 1 ||
        w > tile || h < 1 || h > tile)
        return false;
    if (coder == uint32_t(QvkCoder::htj2k)) {
        Htj2kEncodeParams params;
        params.levels = kQvkHtj2kLevels;
        params.qstep = qvk_htj2k_qstep(quality);
        params.restoration_filter = true;
        return encode_htj2k(rgb, stride, w, h, params, out);
    }
    // Each byte after a row's first pixel becomes its difference from the pixel to its left.
    // Up to 3 MiB for the largest tiles: kept per thread rather than on the stack.
    thread_local std::vector<uint8_t> tls_filtered;
    const size_t row = size_t(w) * 3;
    tls_filtered.resize(row * size_t(h));
    uint8_t* filtered = tls_filtered.data();
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = rgb + size_t(y) * stride;
        uint8_t* f = filtered + size_t(y) * row;
        for (size_t i = 0; i < 3; ++i) f[i] = in[i];
        for (size_t i = 3; i < row; ++i) f[i] = uint8_t(in[i] - in[i - 3]);
    }
    zlib_stream(filtered, row * size_t(h), out);
    return true;
}
