// Fuzz target: one compressed tile file (.ezw) held in memory: header checks, record walk and
// index, then every tile of an accepted file decoded the way the viewer decodes it, down to the
// residual pixels.
//
// The level is taken from the header's merged_w (2048 -> level 2 ... 16384 -> level 5, anything
// else is tried as level 2), so a mutated size field meets the check for the level it claims.
//
// Checked beyond memory safety: a rejected file leaves no buffers and says why; in an accepted
// file the index chains the records back to back from offset 0 to exactly the payload's end, every
// record obeys the stream limits, and so every decode stays inside the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_decode.h"
#include "store/tile_file.h"

namespace {

int level_of(const uint8_t* data, size_t size) {
    if (size < size_t(kTileHeaderSize)) return 2;
    const int32_t merged_w = read_i32le(data + 4);
    for (int level = 2; level <= 5; ++level)
        if (merged_w == level_merged_size(level)) return level;
    return 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int level = level_of(data, size);
    TileSet set;
    std::string why;
    if (!parse_tile_file(data, size, level, set, why)) {
        FUZZ_CHECK(set.index == nullptr && set.data == nullptr);
        FUZZ_CHECK(!why.empty());
        return 0;
    }

    const TileSetHeader& h = set.header;
    FUZZ_CHECK(h.merged_w == level_merged_size(level) && h.merged_h == level_merged_size(level));
    FUZZ_CHECK(h.tiles_x == h.merged_w / 64 && h.tiles_y == h.merged_h / 64);
    FUZZ_CHECK(set.data_len == int64_t(size) - kTileHeaderSize);

    const int slots = h.tiles_x * h.tiles_y;
    int64_t expect = 0;
    for (int k = 0; k < slots; ++k) {
        FUZZ_CHECK(set.index[k] == expect);
        FUZZ_CHECK(set.data_len - expect >= kRecordHeaderSize);
        const uint8_t* record = set.data + expect;
        const uint32_t dom_len = read_u32le(record + 1);
        const uint32_t sub_len = read_u32le(record + 5);
        FUZZ_CHECK(sub_len <= kMaxStreamBytes);
        FUZZ_CHECK(h.compressed || dom_len <= kMaxStreamBytes);
        expect += kRecordHeaderSize + int64_t(dom_len) + sub_len;
        FUZZ_CHECK(expect <= set.data_len);
    }
    FUZZ_CHECK(expect == set.data_len);

    fuzz_decode_every_tile(set);
    fuzz_decode_tiles_to_pixels(set, level);

    free(set.index);
    free(set.data);
    return 0;
}
