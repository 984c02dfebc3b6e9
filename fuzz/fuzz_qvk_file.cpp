// Fuzz target: one one-file picture (.qvk) held in memory, opened through QvkFile over a memory
// byte source: the header and index layout checks, then every tile of the coarsest levels of an
// accepted file read (page checks, entry checks, tile checksums) and decoded. The tile decoder
// also meets raw bytes: the input's tail after the header's data offset (a mutated first tile)
// and, for a refused file, the input itself with its first three bytes choosing the tile's size
// and the file's tile size. Stored tiles are decoded at full resolution and at every reduction
// the coder allows (the derived levels' decodes).
//
// Checked beyond memory safety: a refused file says why in one line naming the source; an
// accepted file's header is consistent with the input (length, index regions before the tiles,
// level geometry, tile size); a tile read is 1..qvk_max_tile_bytes long, a decode leaves the pixels
// beyond the tile's size black, and the page cache stays within its limit. The coarsest four levels
// hold at most 1 + 4 + 16 + 64 tiles, so the work per input is bounded whatever the header claims.
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/qvk_tile.h"
#include "fuzz/fuzz_check.h"
#include "store/byte_source.h"
#include "store/qvk_file.h"

namespace {

constexpr int kCoarseLevels = 4;
std::vector<uint8_t> pixels;

// Decodes a tile of a `tile`-pixel file with `reduce` resolution levels left out and checks
// that everything beyond its (reduced) w x h came out black.
void decode_and_check(uint32_t coder, const uint8_t* bytes, size_t n, int tile, int w, int h,
                      int reduce = 0) {
    const int side = tile >> reduce;
    const size_t stride = size_t(side) * 4;
    pixels.resize(stride * size_t(side));
    if (!decode_qvk_tile_reduced(coder, bytes, n, tile, w, h, reduce, pixels.data(), stride))
        return;
    const int rw = (w + (1 << reduce) - 1) >> reduce, rh = (h + (1 << reduce) - 1) >> reduce;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if (x >= rw || y >= rh)
                for (int c = 0; c < 3; ++c) FUZZ_CHECK(pixels[y * stride + x * 4 + c] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string error;
    std::unique_ptr<QvkFile> file = QvkFile::open(memory_source("in.qvk", data, size), error);
    if (!file) {
        FUZZ_CHECK(error.rfind("in.qvk: ", 0) == 0 && error.size() > 8);
        FUZZ_CHECK(error.find('\n') == std::string::npos);
        if (size >= 3) {
            const int tile = kQvkMinTileSize << (data[2] % 5);  // 64 .. 1024
            decode_and_check(1, data + 3, size - 3, tile, 1 + data[0] % tile, 1 + data[1] % tile);
        }
        return 0;
    }

    const QvkHeader& h = file->header();
    FUZZ_CHECK(h.file_length == size);
    FUZZ_CHECK(h.levels >= 1 && h.levels <= kQvkMaxLevels);
    FUZZ_CHECK(qvk_tile_size_ok(uint32_t(h.tile_size)));
    const uint32_t T = uint32_t(h.tile_size);
    FUZZ_CHECK(h.data_offset >= h.header_size() && h.data_offset <= size);
    FUZZ_CHECK(h.level[h.levels].width == h.width && h.level[h.levels].height == h.height);
    FUZZ_CHECK(h.level[1].tiles_x == 1 && h.level[1].tiles_y == 1);
    FUZZ_CHECK(h.level[h.levels].stored());
    for (int l = 1; l <= h.levels; ++l) {
        const QvkLevel& v = h.level[l];
        if (!v.stored()) {
            FUZZ_CHECK(v.index_offset == 0 && v.index_length == 0);
            FUZZ_CHECK(v.reduce <= qvk_max_reduce(h.coder, h.tile_size));
            FUZZ_CHECK(v.reduce == h.level[l + 1].reduce + 1);
            continue;
        }
        FUZZ_CHECK(v.index_offset >= h.header_size());
        FUZZ_CHECK(v.index_length == qvk_index_length(v));
        FUZZ_CHECK(v.index_offset + v.index_length <= h.data_offset);
    }

    std::vector<uint8_t> bytes;
    std::string why;
    const int coarse = h.levels < kCoarseLevels ? h.levels : kCoarseLevels;
    for (int l = 1; l <= coarse; ++l) {
        const QvkLevel& v = h.level[l];
        for (uint32_t ty = 0; ty < v.tiles_y; ++ty)
            for (uint32_t tx = 0; tx < v.tiles_x; ++tx) {
                if (!file->read_tile(l, tx, ty, bytes, why)) {
                    FUZZ_CHECK(!why.empty());
                    continue;
                }
                FUZZ_CHECK(bytes.size() >= 1 && bytes.size() <= qvk_max_tile_bytes(h.tile_size));
                const int w = int(v.width - T * tx < T ? v.width - T * tx : T);
                const int th = int(v.height - T * ty < T ? v.height - T * ty : T);
                // At full resolution and at every reduction a derived level may ask for.
                for (int r = 0; r <= qvk_max_reduce(h.coder, h.tile_size); ++r)
                    decode_and_check(h.coder, bytes.data(), bytes.size(), int(T), w, th, r);
            }
        FUZZ_CHECK(!file->read_tile(l, v.tiles_x, 0, bytes, why) && why == "no such tile");
    }
    FUZZ_CHECK(file->cached_pages() <= QvkFile::kMaxCachedPages);
    // The bytes after the index as one tile of level 1's size (the first tile, mutated, when the
    // writer put it there).
    decode_and_check(h.coder, data + h.data_offset, size - size_t(h.data_offset), int(T),
                     int(h.level[1].width), int(h.level[1].height));
    return 0;
}
