#include "tests/corpus/corpus_cases.h"

#include <zlib.h>

#include <filesystem>
#include <stdexcept>

#include "store/data_set.h"
#include "store/tile_file.h"

namespace fs = std::filesystem;

namespace {

const char kMinimapFatal[] = "failed to load minimap!";
const char kBaseFatal[] = "failed to load file!";
const char kOpenFatal[] = "failed to load  at least one ezw file!";
const char kIndexFatal2[] =
    "an error occured while building the index-structure for accessing the compressed tiles";
const char kIndexFatal3[] =
    "error occured while building the index-structure for accessing the compressed tiles";

// The damaged record of the decode cases: in the middle of a level-2 file, not at its start.
constexpr int kDamagedTile = 37;
constexpr int kLevel2Tiles = 32 * 32;
constexpr int kMinimapW = 256, kMinimapH = 128;

void put_u32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes zlib(const Bytes& in) {
    uLongf len = compressBound(uLong(in.size()));
    Bytes out(len);
    if (compress2(out.data(), &len, in.data(), uLong(in.size()), 9) != Z_OK)
        throw std::runtime_error("zlib compress failed");
    out.resize(len);
    return out;
}

Bytes valid_minimap() {
    return raw_rgb_image(kMinimapW, kMinimapH, fixture_minimap_rgb, 0);
}

// The valid minimap's header with a different payload length.
Bytes minimap_with_payload(size_t payload) {
    return raw_image_bytes(2, kMinimapW, kMinimapH, Bytes(payload, 0x5a));
}

// A level-2 tile file of empty records (threshold 0, both lengths 0)...
Bytes level2_header(bool compressed, uint8_t max_passes = 8) {
    TileHeaderFields h;
    h.compressed = compressed;
    h.max_passes = max_passes;
    return tile_header_bytes(h);
}

Bytes empty_records(int n) {
    return Bytes(size_t(n) * kRecordHeaderSize, 0);
}

// Records that decode to nothing: threshold 0, no symbols; in a compressed file the empty
// dominant stream is still a (tiny) zlib stream, as the encoder writes it.
Bytes quiet_records(int n, bool compressed) {
    if (!compressed) return empty_records(n);
    const Bytes one = tile_record(0, zlib({}), {});
    Bytes out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), one.begin(), one.end());
    return out;
}

// ...with `record` in place of record kDamagedTile.
Bytes level2_with_record(const Bytes& record, bool compressed, uint8_t max_passes = 8) {
    Bytes out = level2_header(compressed, max_passes);
    out = concat(out, quiet_records(kDamagedTile, compressed));
    out = concat(out, record);
    return concat(out, quiet_records(kLevel2Tiles - kDamagedTile - 1, compressed));
}

CorpusCase minimap_case(const std::string& name, const std::string& about, Bytes bytes,
                        const std::string& reason) {
    CorpusCase c;
    c.name = name;
    c.about = about;
    c.slot = CorpusSlot::minimap;
    c.bytes = std::move(bytes);
    c.failure.line = reason.empty() ? "" : "./ezw_data/minimap.pzd: " + reason;
    c.failure.fatal = kMinimapFatal;
    return c;
}

CorpusCase base_case(const std::string& name, const std::string& about, int sub, Bytes bytes,
                     const std::string& reason) {
    CorpusCase c;
    c.name = name;
    c.about = about;
    c.slot = CorpusSlot::base_tex;
    c.sub = sub;
    c.bytes = std::move(bytes);
    c.failure.line = "./ezw_data/" + base_tex_name(sub) + ": " + reason;
    c.failure.fatal = kBaseFatal;
    return c;
}

// A damaged A1 level-2 R file (or another one, when sub/level/channel are given).
CorpusCase tile_case(const std::string& name, const std::string& about, Bytes bytes,
                     const std::string& reason, const char* fatal = kIndexFatal2, int sub = 0,
                     int level = 2, char channel = 'R') {
    CorpusCase c;
    c.name = name;
    c.about = about;
    c.slot = CorpusSlot::tile_file;
    c.sub = sub;
    c.level = level;
    c.channel = channel;
    c.bytes = std::move(bytes);
    c.failure.line =
        reason.empty() ? "" : "./ezw_data/" + tile_file_name(sub, level, channel) + ": " + reason;
    c.failure.fatal = fatal;
    return c;
}

CorpusCase decode_case(const std::string& name, const std::string& about, Bytes bytes,
                       ShortDecode decode) {
    CorpusCase c;
    c.name = name;
    c.about = about;
    c.slot = CorpusSlot::tile_file;
    c.bytes = std::move(bytes);
    c.loads = true;
    c.decode = std::move(decode);
    c.decode.tile = kDamagedTile;
    return c;
}

ShortDecode expect(DecodeStatus status, int significant, std::vector<std::pair<int, float>> values,
                   uint32_t symbols, uint32_t bits) {
    ShortDecode d;
    d.status = status;
    d.significant = significant;
    d.values = std::move(values);
    d.symbols_used = symbols;
    d.bits_used = bits;
    return d;
}

std::vector<CorpusCase> raw_image_cases() {
    const int payload = kMinimapW * kMinimapH * 3;  // 98304
    std::vector<CorpusCase> v;
    v.push_back(minimap_case("raw_empty", "a file of no bytes at all", {}, "the file is empty"));
    v.push_back(minimap_case("raw_header_only", "a valid 9-byte header and no pixels",
                             minimap_with_payload(0),
                             "the file holds 9 bytes, but its header announces 98313"));
    v.push_back(minimap_case("raw_truncated_header", "the file ends inside the width field",
                             Bytes{2, 0, 1, 0, 0}, "the header is cut short (5 of 9 bytes)"));
    v.push_back(minimap_case("raw_65536_square", "a bare 9-byte header announcing 65536 x 65536",
                             raw_image_bytes(2, 65536, 65536, {}),
                             "image of 65536 x 65536 pixels is too large"));
    // 37838 * 37838 * 3 = 4295142732 = 2^32 + 175436: a reader computing the size in 32 bits
    // would allocate and read 175436 bytes, and this file holds exactly that many.
    v.push_back(minimap_case("raw_size_wraps_32_bits",
                             "w * h * 3 overflows 32 bits to the payload the file really holds",
                             raw_image_bytes(2, 37838, 37838, Bytes(175436, 0x33)),
                             "image of 37838 x 37838 pixels is too large"));
    v.push_back(minimap_case("raw_zero_width", "width 0", raw_image_bytes(2, 0, kMinimapH, {}),
                             "width and height must be positive (got 0 x 128)"));
    v.push_back(minimap_case("raw_negative_height", "height -128, payload of the positive size",
                             raw_image_bytes(2, kMinimapW, -kMinimapH, Bytes(payload, 1)),
                             "width and height must be positive (got 256 x -128)"));
    {
        Bytes b = valid_minimap();
        b[0] = 3;
        CorpusCase c = minimap_case("raw_id_3", "file ID 3", b, "");
        c.failure.line = "unknown file ID";
        v.push_back(c);
    }
    v.push_back(minimap_case("raw_id4_as_minimap", "a well-formed ID 4 stream pair as the minimap",
                             raw_image_bytes(4, 10, 6, Bytes(16, 7)),
                             "file ID 4 holds no pixel image"));
    v.push_back(minimap_case("raw_id4_negative_length", "ID 4 with dom-len -1",
                             raw_image_bytes(4, -1, 6, Bytes(5, 7)),
                             "stream lengths must not be negative (got -1 and 6)"));
    v.push_back(minimap_case("raw_id4_lengths_overflow", "ID 4 whose lengths add up past 2^31",
                             raw_image_bytes(4, 0x7fffffff, 0x7fffffff, {}),
                             "stream pair is too large"));
    v.push_back(minimap_case("raw_payload_one_short", "the last pixel's blue byte is missing",
                             minimap_with_payload(size_t(payload) - 1),
                             "the file holds 98312 bytes, but its header announces 98313"));
    v.push_back(minimap_case("raw_payload_one_long", "one stray byte after the last pixel",
                             minimap_with_payload(size_t(payload) + 1),
                             "the file holds 98314 bytes, but its header announces 98313"));
    v.push_back(base_case("base_id4", "a base texture that is an ID 4 stream pair", 0,
                          raw_image_bytes(4, 10, 6, Bytes(16, 7)),
                          "file ID 4 holds no pixel image"));
    v.push_back(base_case("base_wrong_size", "a well-formed 512 x 512 base texture", 0,
                          raw_rgb_image(512, 512, fixture_base_rgb, 0),
                          "base texture is 512 x 512, it must be 1024 x 1024"));
    v.push_back(base_case("base_truncated", "C1's base texture cut in the middle of its pixels", 2,
                          raw_image_bytes(2, 1024, 1024, Bytes(1000, 9)),
                          "the file holds 1009 bytes, but its header announces 3145737"));
    return v;
}

std::vector<CorpusCase> tile_file_cases() {
    std::vector<CorpusCase> v;
    const Bytes minimal = minimal_tile_file(2);

    v.push_back(tile_case("tile_shorter_than_header", "20 bytes, less than the 24-byte header",
                          Bytes(minimal.begin(), minimal.begin() + 20),
                          "the file is shorter than its 24-byte header", kOpenFatal));
    {
        Bytes b = minimal;
        put_u32(b, 12, 0);
        v.push_back(tile_case("tile_zero_tiles", "tiles_x 0", b,
                              "the tile grid must be positive (tiles_x 0, tiles_y 32)"));
    }
    {
        // 65536 * 65536 slots is 2^32: zero when multiplied in 32 bits.
        Bytes b = minimal;
        put_u32(b, 12, 65536);
        put_u32(b, 16, 65536);
        v.push_back(
            tile_case("tile_slots_overflow", "tiles_x * tiles_y = 2^32", b,
                      "tile grid 65536 x 65536 does not match the merged size 2048 x 2048"));
    }
    {
        Bytes b = minimal;
        put_u32(b, 12, 31);
        v.push_back(tile_case("tile_grid_not_merged_w", "merged_w 2048 but tiles_x 31", b,
                              "tile grid 31 x 32 does not match the merged size 2048 x 2048"));
    }
    {
        Bytes b = minimal;
        put_u32(b, 4, 2000);
        v.push_back(tile_case("tile_merged_w_odd", "merged_w 2000, not a multiple of 64", b,
                              "merged size is 2000 x 2048, level 2 needs 2048 x 2048"));
    }
    {
        // All 1024 records, the last one ending after threshold and dom_len.
        Bytes b(minimal.begin(), minimal.end() - 4);
        v.push_back(tile_case("tile_record_header_cut", "the last record ends inside sub_len", b,
                              "record 1023 is cut short inside its 9-byte header"));
    }
    {
        Bytes rec(9, 0);
        put_u32(rec, 1, 0xffffffffu);
        v.push_back(tile_case("tile_dom_len_max_stored", "dom_len 0xFFFFFFFF in a stored file",
                              level2_with_record(rec, false),
                              "record 37 has dom_len 4294967295, more than 4096 in a stored file"));
        v.push_back(tile_case("tile_dom_len_max_zlib", "dom_len 0xFFFFFFFF in a compressed file",
                              level2_with_record(rec, true),
                              "record 37 ends past the end of the file"));
    }
    {
        // 0xFFFFFFF8 + 8 wraps to 0 in 32 bits: a walker adding in 32 bits would take this for a
        // 9-byte record and accept the file.
        Bytes rec(9, 0);
        put_u32(rec, 1, 0xfffffff8u);
        put_u32(rec, 5, 8);
        v.push_back(tile_case("tile_lengths_wrap", "dom_len + sub_len wraps to 0 in 32 bits",
                              level2_with_record(rec, true),
                              "record 37 ends past the end of the file"));
    }
    {
        Bytes rec = tile_record(16, {}, Bytes(4097, 0));
        v.push_back(tile_case("tile_sub_len_4097", "a subordinate stream of 4097 bytes",
                              level2_with_record(rec, false),
                              "record 37 has sub_len 4097, more than 4096"));
    }
    {
        Bytes rec = tile_record(16, Bytes(4097, 0), {});
        v.push_back(tile_case("tile_stored_dom_len_4097", "a stored dominant stream of 4097 bytes",
                              level2_with_record(rec, false),
                              "record 37 has dom_len 4097, more than 4096 in a stored file"));
    }
    v.push_back(tile_case("tile_fewer_records", "1023 records for 1024 slots",
                          concat(level2_header(false), empty_records(kLevel2Tiles - 1)),
                          "the file holds 1023 tile records, the grid needs 1024"));
    v.push_back(tile_case("tile_header_only", "the 24-byte header and no record at all",
                          level2_header(false),
                          "the file holds 0 tile records, the grid needs 1024"));
    v.push_back(tile_case("tile_extra_record", "1025 records for 1024 slots",
                          concat(level2_header(false), empty_records(kLevel2Tiles + 1)), ""));
    v.push_back(tile_case("tile_trailing_bytes", "three bytes after the last record",
                          concat(minimal, Bytes{1, 2, 3}), "3 bytes follow the last tile record"));
    {
        // The last record announces one subordinate byte more than the file holds.
        Bytes b = concat(level2_header(false), empty_records(kLevel2Tiles));
        put_u32(b, 24 + size_t(kLevel2Tiles - 1) * 9 + 5, 1);
        v.push_back(tile_case("tile_last_record_past_end",
                              "the last record's stream runs past "
                              "the end of the file",
                              b, "record 1023 ends past the end of the file"));
    }
    {
        // A self-consistent file, but of level 4's geometry, among the level-3 files.
        Bytes b = minimal_tile_file(4);
        v.push_back(tile_case(
            "tile_level_geometry_disagrees", "B1's level-3 G file has level 4's geometry", b,
            "merged size is 8192 x 8192, level 3 needs 4096 x 4096", kIndexFatal3, 1, 3, 'G'));
    }
    {
        Bytes b = minimal_tile_file(3);
        put_u32(b, 8, 4032);
        put_u32(b, 16, 63);
        v.push_back(tile_case(
            "tile_level_height_disagrees", "D2's level-3 B file is one tile row short", b,
            "merged size is 4096 x 4032, level 3 needs 4096 x 4096", kIndexFatal3, 7, 3, 'B'));
    }
    return v;
}

std::vector<CorpusCase> decode_cases() {
    using S = DecodeStatus;
    std::vector<CorpusCase> v;
    // The worked record: DC positive significant (refinement bit 1: 7 * 16 / 4 = 28), then its
    // three children zerotree roots, which ends a pass at T = 16.
    const Bytes dc_symbols{0x40};
    const Bytes bit_one{0x80};
    {
        Bytes z = zlib(dc_symbols);
        z[2] = 0x07;  // first deflate block: final, block type 3, which does not exist
        v.push_back(decode_case("zlib_corrupt", "the dominant stream's block type is invalid",
                                level2_with_record(tile_record(16, z, bit_one), true),
                                expect(S::zlib_failed, 0, {}, 0, 0)));
    }
    {
        Bytes plain(300);
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 37 + (i >> 3));
        Bytes z = zlib(plain);
        z.resize(z.size() / 2);
        v.push_back(decode_case("zlib_truncated", "the dominant zlib stream cut in half",
                                level2_with_record(tile_record(200, z, Bytes(64, 0x5a)), true),
                                expect(S::zlib_failed, 0, {}, 0, 0)));
    }
    {
        Bytes z = zlib(Bytes(4097, 0));
        v.push_back(decode_case("zlib_inflates_past_4096",
                                "the dominant stream inflates to 4097 "
                                "bytes",
                                level2_with_record(tile_record(16, z, {}), true),
                                expect(S::dominant_too_long, 0, {}, 0, 0)));
    }
    {
        // The limit itself is fine: all zerotree roots at the DC coefficient, one per pass while
        // T = 16, 8, 4, 2.
        Bytes z = zlib(Bytes(4096, 0));
        v.push_back(decode_case("zlib_inflates_to_4096",
                                "companion: exactly 4096 inflated bytes "
                                "decode",
                                level2_with_record(tile_record(16, z, {}), true),
                                expect(S::ok, 0, {}, 4, 0)));
    }
    {
        // Four symbols finish pass 1 at T = 128 (bit 1: 224); pass 2 needs a fifth.
        v.push_back(
            decode_case("zlib_inflates_short", "one inflated byte for a 7-pass tile",
                        level2_with_record(tile_record(128, zlib(dc_symbols), bit_one), true, 7),
                        expect(S::short_streams, 1, {{0, 224.0f}}, 4, 1)));
    }
    {
        const Bytes junk{0xde, 0xad, 0xbe, 0xef, 0x78, 0x9c};
        v.push_back(decode_case(
            "zlib_followed_by_junk", "six junk bytes after a complete zlib stream, inside dom_len",
            level2_with_record(tile_record(16, concat(zlib(dc_symbols), junk), bit_one), true, 1),
            expect(S::ok, 1, {{0, 28.0f}, {1, 0.0f}}, 4, 1)));
    }
    {
        // Pass 1 at T = 4: DC = 5 (bit 0) and three roots. Pass 2 at T = 2: position 1 negative
        // (bit 1: -3), positions 64, 65 and 2 roots; position 3 finds no symbol left.
        v.push_back(decode_case("stored_dominant_runs_out",
                                "the dominant stream ends in the middle of pass 2",
                                level2_with_record(tile_record(4, {0x40, 0xc0}, {0x40}), false),
                                expect(S::short_streams, 2, {{0, 5.0f}, {1, -3.0f}}, 8, 2)));
    }
    {
        // Twelve positive symbols but only eight refinement bits: the coefficients at scan
        // positions 0, 1, 64, 65, 2, 3, 66, 67 become 28; the ninth finds no bit.
        v.push_back(decode_case(
            "stored_subordinate_runs_out", "more significant symbols than refinement bits",
            level2_with_record(tile_record(16, {0x55, 0x55, 0x55}, {0xff}), false, 1),
            expect(S::short_streams, 8,
                   {{0, 28.0f},
                    {1, 28.0f},
                    {64, 28.0f},
                    {65, 28.0f},
                    {2, 28.0f},
                    {3, 28.0f},
                    {66, 28.0f},
                    {67, 28.0f},
                    {128, 0.0f}},
                   9, 8)));
    }
    v.push_back(decode_case("stored_empty_streams", "threshold 255 and no symbols at all",
                            level2_with_record(tile_record(255, {}, {}), false),
                            expect(S::short_streams, 0, {}, 0, 0)));
    return v;
}

}  // namespace

std::string CorpusCase::data_set_name() const {
    switch (slot) {
        case CorpusSlot::minimap:
            return "minimap.pzd";
        case CorpusSlot::base_tex:
            return base_tex_name(sub);
        case CorpusSlot::tile_file:
            break;
    }
    return tile_file_name(sub, level, channel);
}

std::string CorpusCase::extension() const {
    return slot == CorpusSlot::tile_file ? "ezw" : "pzd";
}

std::vector<CorpusCase> corpus_cases() {
    std::vector<CorpusCase> all = raw_image_cases();
    for (auto* part : {tile_file_cases, decode_cases})
        for (CorpusCase& c : part()) all.push_back(std::move(c));
    return all;
}

void write_case_data_set(const CorpusCase& c, const std::string& dir) {
    const fs::path data = fs::path(dir) / "ezw_data";
    fs::create_directories(data);
    auto put = [&](const std::string& name, const Bytes& bytes) {
        write_file((data / name).string(), bytes);
    };
    const std::string damaged = c.data_set_name();

    if (c.loads) {
        for (char ch : {'R', 'G', 'B'})
            put(tile_file_name(c.sub, c.level, ch),
                ch == c.channel ? c.bytes : minimal_tile_file(c.level));
        return;
    }
    // Loading order: minimap; per sub-image levels 2..5 (R, G, B each), then the base texture.
    // All three files of a level are opened before any is read, so the damaged file's level is
    // written complete.
    put("minimap.pzd", c.slot == CorpusSlot::minimap ? c.bytes : valid_minimap());
    if (c.slot == CorpusSlot::minimap) return;
    Bytes tiles[6];
    for (int level = 2; level <= 5; ++level) tiles[level] = minimal_tile_file(level);
    for (int s = 0; s <= c.sub; ++s) {
        for (int level = 2; level <= 5; ++level) {
            for (char ch : {'R', 'G', 'B'}) {
                const std::string name = tile_file_name(s, level, ch);
                put(name, name == damaged ? c.bytes : tiles[level]);
            }
            if (s == c.sub && c.slot == CorpusSlot::tile_file && level == c.level) return;
        }
        const std::string base = base_tex_name(s);
        put(base, base == damaged ? c.bytes : raw_rgb_image(1024, 1024, fixture_base_rgb, s));
    }
}
