#pragma once
// Compressed tile file (.ezw): a 24-byte header, then one record per 64 x 64 tile, back to back,
// no trailer. All integers little-endian.
//
// Header:
//   0   3  reserved
//   3   1  compressed: non-zero = every record's dominant stream is a zlib stream
//   4   4  merged_w: width in pixels of the sub-image at this level
//   8   4  merged_h: height in pixels
//   12  4  tiles_x
//   16  4  tiles_y
//   20  1  max_passes: most bit-plane passes of any tile
//   21  3  reserved
// Record (at 24 + index[k]):
//   0   1  threshold
//   1   4  dom_len (unsigned): dominant stream bytes as stored
//   5   4  sub_len (unsigned): subordinate stream bytes
//   9   dom_len bytes dominant stream, then sub_len bytes subordinate stream
//
// Limits checked at load time, so that no later step reads outside a file:
//   - file >= 24 bytes; tiles_x, tiles_y > 0; tiles_x = merged_w / 64 and tiles_y = merged_h / 64
//     with merged_w and merged_h the level's geometry (1024 * 2^(L-1)), which is what the
//     renderer's tile grid assumes for every sub-image;
//   - the record walk fills exactly tiles_x * tiles_y slots and ends exactly at the payload's end
//     (sizes summed in 64 bits);
//   - sub_len <= 4096 (the decoder's subordinate buffer), and dom_len <= 4096 in a stored file
//     (compressed streams are bounded when inflated, by the decoder).
#include <cstddef>
#include <cstdint>
#include <string>

#include "store/format.h"
#include "store/load_error.h"

struct TileSetHeader {
    uint8_t reserved0[3];
    uint8_t compressed;
    int32_t merged_w;
    int32_t merged_h;
    int32_t tiles_x;
    int32_t tiles_y;
    uint8_t max_passes;
    uint8_t reserved1[3];
};
static_assert(sizeof(TileSetHeader) == 24, "the header is read as 24 raw bytes");

// One loaded tile file.
struct TileSet {
    TileSetHeader header;
    int32_t* index = nullptr;  // tiles_x * tiles_y record offsets into data
    uint8_t* data = nullptr;   // the file after the header
    int64_t data_len = 0;      // bytes in data (file length - 24)
};

// The three channel files of one sub-image and level.
struct ResidualLevel {
    TileSet* R = nullptr;
    TileSet* G = nullptr;
    TileSet* B = nullptr;
};

// Little-endian field readers; never read past the given pointer + 4.
inline uint32_t read_u32le(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline int32_t read_i32le(const uint8_t* p) {
    return int32_t(read_u32le(p));
}

// Expected sub-image width and height in pixels at level L (2..5).
constexpr int32_t level_merged_size(int level) {
    return 1024 << (level - 1);
}

// Header checks for level `level`. Pure; `why` gets one line on failure.
bool check_tile_header(const TileSetHeader& h, int64_t file_len, int level, std::string& why);

enum class IndexResult {
    ok,
    too_many_records,  // more records than slots: the level's index message
    malformed,         // anything else; `why` says what
};

// Walks the records of `payload` (length `len`) and fills `index` (slots = tiles_x * tiles_y).
// Pure; never reads outside payload.
IndexResult walk_tile_records(const TileSetHeader& h, const uint8_t* payload, int64_t len,
                              int32_t* index, std::string& why);

// The level's fatal message for index failures.
const char* index_message(int level);

// Builds set.index from set.data; on failure returns the error naming `filename`, with the
// level's index message. (The viewer's form that ends the program: build_tile_index, app/load.h.)
LoadError index_tile_set(TileSet& set, int64_t payload_len, int level, const char* filename);

// Loads the R, G and B files of one sub-image and level into three new tile sets in `entry`,
// printing the loading lines on console_out. On failure returns the error; `entry` then holds
// whatever was allocated so far (free it with free_tile_set). (The viewer's form that ends the
// program: load_residual_level, app/load.h.)
LoadError read_residual_level(const char* r_name, const char* g_name, const char* b_name,
                              ResidualLevel& entry, int level);

// Parses a whole tile file held in memory (header, validation, index) into `set`, allocating
// index and data. Prints nothing; false with `why` on failure. For fuzzers and tools.
bool parse_tile_file(const uint8_t* bytes, size_t len, int level, TileSet& set, std::string& why);

// Frees a tile set's buffers and the record itself.
void free_tile_set(TileSet*& set);
