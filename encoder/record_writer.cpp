// Tile record and tile file header writing.
#include <zlib.h>
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "encoder/encoder.h"

namespace {

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

#ifdef QUORVIK_HAVE_LIBDEFLATE
struct ThreadCompressor {
    libdeflate_compressor* c = nullptr;
    int level = -1;
    ~ThreadCompressor() {
        if (c) libdeflate_free_compressor(c);
    }
    libdeflate_compressor* get(int lvl) {
        if (c && level != lvl) {
            libdeflate_free_compressor(c);
            c = nullptr;
        }
        if (!c) {
            c = libdeflate_alloc_compressor(lvl);
            level = lvl;
        }
        return c;
    }
};
thread_local ThreadCompressor tls_compressor;
#endif

std::vector<uint8_t> zlib_compress(const std::vector<uint8_t>& in, int level) {
    level = level < 1 ? 1 : level > 12 ? 12 : level;
#ifdef QUORVIK_HAVE_LIBDEFLATE
    if (libdeflate_compressor* c = tls_compressor.get(level)) {
        std::vector<uint8_t> out(libdeflate_zlib_compress_bound(c, in.size()));
        const size_t n = libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
        if (n > 0) {
            out.resize(n);
            return out;
        }
    }
#endif
    uLongf n = compressBound(uLong(in.size()));
    std::vector<uint8_t> out(n);
    static const uint8_t empty = 0;
    compress2(out.data(), &n, in.empty() ? &empty : in.data(), uLong(in.size()),
              level > 9 ? 9 : level);
    out.resize(n);
    return out;
}

}  // namespace

size_t append_record(std::vector<uint8_t>& out, const EncodedChannel& channel, bool compress,
                     int zlib_level) {
    const size_t start = out.size();
    std::vector<uint8_t> packed;
    const std::vector<uint8_t>* dom = &channel.dominant;
    if (compress) {
        packed = zlib_compress(channel.dominant, zlib_level);
        dom = &packed;
    }
    out.push_back(channel.threshold);
    put_u32(out, uint32_t(dom->size()));
    put_u32(out, uint32_t(channel.subordinate.size()));
    out.insert(out.end(), dom->begin(), dom->end());
    out.insert(out.end(), channel.subordinate.begin(), channel.subordinate.end());
    return out.size() - start;
}

void append_tile_file_header(std::vector<uint8_t>& out, bool compressed, int32_t merged_w,
                             int32_t merged_h, uint8_t max_passes) {
    out.insert(out.end(), {0, 0, 0});
    out.push_back(compressed ? 1 : 0);
    put_u32(out, uint32_t(merged_w));
    put_u32(out, uint32_t(merged_h));
    put_u32(out, uint32_t(merged_w / 64));
    put_u32(out, uint32_t(merged_h / 64));
    out.push_back(max_passes);
    out.insert(out.end(), {0, 0, 0});
}
