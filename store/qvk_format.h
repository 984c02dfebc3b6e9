#pragma once
// The one-file picture form, NAME.qvk: a picture of any size in one file, every part of which can
// be fetched on its own as one byte range (from a disk, a web server or an object store).
//
// All numbers are little-endian. The file is:
//
//   header  (header_size bytes, at offset 0)
//     off  size  field
//       0     8  magic 0x89 'Q' 'V' 'K' '\r' '\n' 0x1a '\n' (the high byte and the line ends
//                catch a file mangled by a text-mode transfer, as PNG's do)
//       8     4  version: 1
//      12     4  header_size: 64 + 16 * levels + 4
//      16     8  file_length: the whole file's length in bytes (a truncated file shows at open)
//      24     4  width  of the picture in pixels, 1 .. kQvkMaxSide
//      28     4  height of the picture in pixels, 1 .. kQvkMaxSide
//      32     4  levels: exactly qvk_level_count(width, height, tile_size)
//      36     4  tile_size: stored tiles' side in pixels, a power of two from kQvkMinTileSize to
//                kQvkMaxTileSize; the writer's default is 64, the renderer's tile
//      40     4  coder: how each tile is coded (QvkCoder)
//      44     4  coder_param: what the writer set the coder to (its quality, 0..100): every
//                tile's bytes carry all that decoding them needs; a reader of HTJ2K tiles takes
//                from it how strongly to smooth across the tiles' borders (render/tile_borders.h)
//      48     8  data_offset: where the tiles begin; every index region lies before it
//      56     8  reserved, 0
//      64  16*N  one entry per level, coarsest (level 1) first:
//                  u64 index_offset, u64 index_length (= qvk_index_length of the level),
//                or 0, 0 for a derived level (below)
//   64+16N     4  CRC-32 (zlib's) of the header's bytes before it
//
//   index regions, one per level, each at its level entry's index_offset, inside
//   [header_size, data_offset), none overlapping another.
//     A level's tiles are grouped in pages of up to 64 x 64 tiles (page (px, py) holds tile
//     columns 64*px .. 64*px+63 and rows 64*py .. 64*py+63, cut at the grid's edge), so that a
//     view needs one or a few pages per level, whatever the picture's size. The pages are stored
//     one after another, row of pages by row of pages; page (px, py) starts at
//       index_offset + 16 * (py * 64 * tiles_x + px * 64 * page_h) + 4 * (py * pages_x + px)
//     (every page before it in its row is 64 tiles wide; every row of pages before it is 64 tiles
//     high). A page is its tiles' entries, row by row, then the CRC-32 of those entries:
//       u64 offset, u32 length, u32 crc32   per tile (16 bytes)
//       u32 crc32 of the entries            per page
//     A tile's bytes lie in [data_offset, file_length); its length is 1 ..
//     qvk_max_tile_bytes(tile_size); its crc32 is the CRC-32 of those bytes.
//
//   tiles, in any order after data_offset.
//
// The levels: level N (the finest) is the picture; each coarser level halves the one above,
// rounding up (level l is ceil(width / 2^(N-l)) x ceil(height / 2^(N-l)) pixels), and level 1 is
// the first that fits in one tile. A tile of a level is tile_size x tile_size pixels of it; the
// tiles on the right and bottom edges hold only the pixels the level has.
//
// Stored and derived levels: a level with an index is stored. A level without one (entry 0, 0)
// is derived: it has no tiles of its own, and its pixels are those of the nearest finer stored
// level's tiles decoded with `reduce` resolution levels left out, reduce being the distance
// between the two levels (the wavelet's low-pass bands are already a halved picture, so a coarse
// level costs no bytes). Tile (tx, ty) of the stored level then gives the derived level's pixels
// from (tx, ty) * (tile_size >> reduce), ceil(w / 2^reduce) x ceil(h / 2^reduce) of them for a
// w x h tile, which tile the derived level exactly. Only a coder whose tiles carry their coarser
// resolutions allows derived levels (qvk_max_reduce), the finest level is always stored, and
// reduce is at most qvk_max_reduce: a render tile of a derived level then lies in one stored
// tile, and a view of a derived level reads at most 4^reduce times the pixels it shows.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint8_t kQvkMagic[8] = {0x89, 'Q', 'V', 'K', '\r', '\n', 0x1a, '\n'};
constexpr uint32_t kQvkVersion = 1;
constexpr size_t kQvkFixedHeaderBytes = 64;
constexpr size_t kQvkLevelEntryBytes = 16;
constexpr size_t kQvkTileEntryBytes = 16;
constexpr size_t kQvkPageCrcBytes = 4;
// Tiles per page side: a page of 64 x 64 entries is 64 KiB, one read for a view up to
// 4096 x 4096 pixels of one level.
constexpr int kQvkPageTiles = 64;

// The renderer draws 64 x 64 tiles: a stored tile is never smaller, and, being a power of two,
// always holds a whole number of them.
constexpr int kQvkTileSize = 64;
constexpr int kQvkMinTileSize = kQvkTileSize;
// A decoded 1024-pixel tile is 4 MiB of four-byte pixels; larger ones would make a reader's
// cache of a few tiles, and every decode of a damaged or hostile file, cost too much memory.
constexpr int kQvkMaxTileSize = 1024;
// 2^21 pixels a side: the camera keeps its position in single precision, two world units per
// pixel of the finest level, and at 2^22 units a float still resolves a quarter of a pixel.
constexpr uint32_t kQvkMaxSide = uint32_t(1) << 21;
// Levels of the largest picture: 2^21 halves 15 times down to 64.
constexpr int kQvkMaxLevels = 16;
// A coded tile may not exceed 1 MiB (a 64 x 64 RGB tile is 12 KiB raw): it bounds what one
// damaged index entry can make a reader allocate.
constexpr uint32_t kQvkMaxTileBytes = uint32_t(1) << 20;
// Tiles of 512 pixels and more may take 16 bytes a pixel (16 MiB at 1024): over five times the
// raw RGB bytes, room for any coder's worst case, and still a bounded allocation.
constexpr uint32_t kQvkMaxBytesPerPixel = 16;

// Whether `tile` is a tile size the form allows.
inline bool qvk_tile_size_ok(uint32_t tile) {
    return tile >= uint32_t(kQvkMinTileSize) && tile <= uint32_t(kQvkMaxTileSize) &&
           (tile & (tile - 1)) == 0;
}
// The most bytes one coded tile of a `tile`-pixel file may have.
inline uint32_t qvk_max_tile_bytes(int tile) {
    const uint64_t scaled = uint64_t(tile) * uint64_t(tile) * kQvkMaxBytesPerPixel;
    return scaled > kQvkMaxTileBytes ? uint32_t(scaled) : kQvkMaxTileBytes;
}

enum class QvkCoder : uint32_t {
    // The tile's RGB bytes, row by row, each byte after the first pixel of a row replaced by its
    // difference (mod 256) from the same channel of the pixel to its left, in one zlib stream.
    // Lossless.
    deflate_rgb = 1,
    // One HTJ2K codestream of the tile's own w x h pixels (a tile on the right or bottom edge is
    // coded at its cut size, never padded): one codestream tile at the origin, three 8-bit
    // components, the irreversible 9/7 wavelet with the colour transform, 64 x 64 code blocks,
    // one quality layer, as many decompositions (up to six) as the tile's size allows
    // (htj2k_levels_for in decoder/htj2k_codestream.h). A reader refuses a codestream whose size
    // differs from the tile's. Lossy: coder_param is the quality the tiles were coded at, whose
    // base quantisation step, as a fraction of the sample range, is
    //   0.1 * 0.02^(quality / 100)
    // (log-linear: 0.1 at 0, about 0.0096 at 60, 0.002 at 100); a reader needs only the
    // steps each codestream carries.
    htj2k = 2,
};

// Wavelet decompositions of an HTJ2K tile, fewer where the tile is too small for them: a
// 512-pixel tile's coarsest band is then 8 x 8. Six rather than five take 2-5 % off the bytes at
// the same step and PSNR (two photographs and the world; most on the world's smooth ground).
constexpr int kQvkHtj2kLevels = 6;

// The most levels a derived level may lie above its stored level, in a file of `tile`-pixel
// tiles coded with `coder`: 0 for coders without coarser resolutions; for HTJ2K, as many halvings
// as keep a stored tile at least one 64-pixel render tile (and within its decompositions; an
// edge tile too small for them has its last halvings made by 2 x 2 means, as the writer halves).
inline int qvk_max_reduce(uint32_t coder, int tile) {
    if (coder != uint32_t(QvkCoder::htj2k)) return 0;
    int r = 0;
    while (r < kQvkHtj2kLevels && (tile >> (r + 1)) >= 64) ++r;
    return r;
}

// The HTJ2K coder's base quantisation step at `quality` (clamped to 0..100), as a fraction of the
// sample range: log-linear from 0.1 at 0 to 0.002 at 100 (the htj2k coder above), each 10 points a
// step 1.48 times finer, since bytes and PSNR follow the step's logarithm. Quality 60 (0.0096)
// makes files of 0.67-1.40 bits per pixel, all levels counted, of four smooth mate wallpapers
// (Aqua, Garden, LadyBird, Wood; 1.0 their geometric mean) at 47-50 dB; a grainy photograph
// takes far more (Elephants, 5640 x 3172: 5.9 bits per pixel at 44.8 dB).
inline float qvk_htj2k_qstep(int quality) {
    const double q = (quality < 0 ? 0 : quality > 100 ? 100 : quality) / 100.0;
    return float(0.1 * std::pow(0.02, q));
}

// Whether `coder` names a tile coder this program reads.
inline bool qvk_coder_ok(uint32_t coder) {
    return coder == uint32_t(QvkCoder::deflate_rgb) || coder == uint32_t(QvkCoder::htj2k);
}

// One tile's index entry.
struct QvkTileEntry {
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t crc = 0;
};

// Geometry of one level.
struct QvkLevel {
    uint32_t width = 0, height = 0;               // pixels
    uint32_t tiles_x = 0, tiles_y = 0;            // tile grid
    uint32_t pages_x = 0, pages_y = 0;            // page grid
    uint64_t index_offset = 0, index_length = 0;  // both 0 for a derived level
    // Levels up to the stored level whose tiles hold this one's pixels: 0 for a stored level.
    int reduce = 0;
    bool stored() const { return reduce == 0; }
};

inline size_t qvk_header_size(int levels) {
    return kQvkFixedHeaderBytes + kQvkLevelEntryBytes * size_t(levels) + 4;
}

// What the header says, after validation.
struct QvkHeader {
    uint32_t version = kQvkVersion;
    uint64_t file_length = 0;
    uint32_t width = 0, height = 0;
    int levels = 0;
    int tile_size = kQvkTileSize;
    uint32_t coder = uint32_t(QvkCoder::deflate_rgb);
    uint32_t coder_param = 0;
    uint64_t data_offset = 0;
    QvkLevel level[kQvkMaxLevels + 1];  // 1..levels
    size_t header_size() const { return qvk_header_size(levels); }
};

// Levels of a width x height picture in tile x tile tiles (1 when it fits in one tile).
int qvk_level_count(uint32_t width, uint32_t height, int tile);
// Fills the geometry of every level of `h` (width, height, levels and tile_size set) and lays the
// index regions of the stored levels (those whose `reduce` is 0) out one after another from the
// end of the header; sets data_offset after them.
void qvk_layout(QvkHeader& h);
// Marks which levels of `h` (levels, coder and tile_size set) are derived: the finest and every
// (span + 1)-th level above it stored, the others derived from the nearest stored level below;
// `span` is clamped to 0 .. qvk_max_reduce. Call before qvk_layout.
void qvk_derive_levels(QvkHeader& h, int span);
// Bytes of one level's index: 16 per tile and 4 per page.
uint64_t qvk_index_length(const QvkLevel& level);
// Page of a tile, the page's size in tiles, its offset in the file, and the tile's slot in it.
struct QvkPageRef {
    uint32_t px, py;         // page
    uint32_t width, height;  // tiles
    uint64_t offset;         // in the file
    uint64_t bytes;          // 16 * width * height + 4
    uint32_t slot;           // the tile's entry in the page
};
QvkPageRef qvk_page_of(const QvkLevel& level, uint32_t tx, uint32_t ty);

// Writes the header's bytes (h.header_size() of them, checksum included) to `out`.
void qvk_write_header(const QvkHeader& h, uint8_t* out);
// Reads and validates a header from the first `n` bytes of a file `actual_length` bytes long.
// Returns "" and fills `h` when it is sound; otherwise the fault, one line without the file's
// name (for instance "not a QUORVIK picture (wrong magic)", "truncated: the header gives
// 1200 bytes, the file has 1000", "unsupported tile size 96 (this program reads 64 or 128)": the
// sizes named are those nearest to the one found). `n` may be less than the header: the fault then
// says how many bytes are needed (`needed` is set), so that a reader can fetch the rest and try
// again.
std::string qvk_read_header(const uint8_t* bytes, size_t n, uint64_t actual_length, QvkHeader& h,
                            size_t* needed = nullptr);

// Checks a page's bytes (ref.bytes of them) against its CRC; "" when sound, otherwise what is
// wrong ("index page checksum mismatch").
std::string qvk_check_page(const QvkPageRef& ref, const uint8_t* bytes);
QvkTileEntry qvk_page_entry(const uint8_t* page, uint32_t slot);
void qvk_put_page_entry(uint8_t* page, uint32_t slot, const QvkTileEntry& e);
// Seals a page whose entries are written: stores the CRC of its entries after them.
void qvk_seal_page(const QvkPageRef& ref, uint8_t* page);
// Checks one entry against the file: its bytes inside [data_offset, file_length), its length
// 1 .. qvk_max_tile_bytes(h.tile_size); "" when sound, otherwise what is wrong.
std::string qvk_check_entry(const QvkHeader& h, const QvkTileEntry& e);
