// Writes the seed corpora of the fuzz targets: valid inputs made with the project's own file
// writers, so that the fuzzers start from files the viewer accepts and mutate from there.
//
//   quorvik-fuzz-seeds OUT_DIR [DATA_SET]
//
// writes OUT_DIR/raw_image, OUT_DIR/tile_file, OUT_DIR/tile_record and OUT_DIR/qvk_file. With
// DATA_SET (a folder holding ezw_data, as quorvik-tool build writes it), records of its level-2
// tile files join the tile record seeds: real tiles of a real world (whole files are too large to
// mutate quickly).
//
// Tile records come in both forms, stored and zlib-compressed, and cover the decoder's ways
// through a pass: zerotree roots at the DC coefficient and below it, isolated zeros, both signs,
// both refinement bits, thresholds that need several passes and streams long enough to reach the
// finest bands.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/encoder.h"
#include "encoder/qvk_tile_encode.h"
#include "store/data_set.h"
#include "store/qvk_writer.h"
#include "store/tile_file.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

struct Record {
    const char* name;
    uint8_t threshold;
    uint8_t max_passes;
    Bytes dominant;
    Bytes subordinate;
};

Bytes zlib_compress(const Bytes& in) {
    uLongf len = compressBound(uLong(in.size()));
    Bytes out(len);
    if (compress2(out.data(), &len, in.data(), uLong(in.size()), 9) != Z_OK) {
        fprintf(stderr, "zlib compress failed\n");
        exit(1);
    }
    out.resize(len);
    return out;
}

// A deterministic byte stream (xorshift), so that the seeds are the same on every run.
Bytes noise(size_t n, uint32_t seed) {
    Bytes out(n);
    uint32_t x = seed ? seed : 1;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = uint8_t(x);
    }
    return out;
}

// Symbols biased towards zerotree roots and isolated zeros, as real tiles are: mostly 0 and 2,
// now and then a 1 or a 3.
Bytes plausible_symbols(size_t n, uint32_t seed) {
    Bytes raw = noise(n * 4, seed);
    Bytes out(n, 0);
    for (size_t i = 0; i < n * 4; ++i) {
        const uint8_t r = raw[i];
        const uint8_t symbol = r < 150 ? 0 : r < 220 ? 2 : r < 238 ? 1 : 3;
        out[i / 4] |= uint8_t(symbol << (6 - 2 * (i % 4)));
    }
    return out;
}

std::vector<Record> records() {
    return {
        // DC positive significant, its three children zerotree roots; refinement bit 1.
        {"dc_only", 0x10, 1, {0x40}, {0x80}},
        // Two passes: DC at T = 4, then position 1 negative at T = 2 and six zerotree roots.
        {"two_passes", 0x04, 8, {0x40, 0xC0, 0x00}, {0x40}},
        // A zerotree root at the DC coefficient ends every pass after one symbol.
        {"dc_zerotree", 0x10, 4, {0x00}, {}},
        // Thresholds 0 and 1 run no pass at all.
        {"no_pass", 0x01, 8, {}, {}},
        // Full-size streams: every pass reaches the finest bands.
        {"dense", 0xFF, 8, plausible_symbols(4096, 7), noise(4096, 11)},
        {"medium", 0x80, 7, plausible_symbols(600, 3), noise(200, 5)},
        {"sparse", 0x30, 5, plausible_symbols(64, 9), noise(16, 13)},
    };
}

// A residual plane with the structure of real tiles: smooth gradients, an edge, a little noise.
// `kind` varies the mix so that the encoded records differ in length and pass count.
void residual_plane(float* plane, int kind) {
    const Bytes rnd = noise(kTileCoeffs, uint32_t(kind) * 7919 + 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int p = y * 64 + x;
            float v = float((x - 32) * (kind % 3)) * 0.5f + float((y - 20) * (kind % 5)) * 0.25f;
            if (x > 20 + kind * 3 && y < 40) v += 30.0f;
            v += float(int(rnd[size_t(p)] % 16) - 8) * float(kind % 4);
            plane[p] = v;
        }
}

// One channel encoded by the project's own encoder, as the data set builder writes it.
EncodedChannel encoded_channel(int kind, int max_passes) {
    float plane[kTileCoeffs];
    residual_plane(plane, kind);
    forward_wavelet(plane);
    float peak = max_abs_coefficient(plane);
    const int threshold = peak >= 255.0f ? 255 : peak < 2.0f ? 2 : int(peak);
    EncodedChannel out;
    encode_channel(plane, threshold, max_passes, out, nullptr);
    return out;
}

// The record target's input: the file's `compressed` flag and max_passes, then the record.
Bytes record_seed(bool compressed, uint8_t max_passes, const uint8_t* record, size_t len) {
    Bytes seed;
    seed.reserve(2 + len);
    seed.push_back(uint8_t(compressed ? 1 : 0));
    seed.push_back(max_passes);
    seed.insert(seed.end(), record, record + len);
    return seed;
}

// A tile record as the tile file holds it; `compressed` wraps the dominant stream in zlib.
Bytes record_bytes(const Record& r, bool compressed) {
    return tile_record(r.threshold, compressed ? zlib_compress(r.dominant) : r.dominant,
                       r.subordinate);
}

// A level-2 tile file whose 32 x 32 records cycle through the given records.
Bytes level2_file(const std::vector<Record>& recs, bool compressed, uint8_t max_passes) {
    TileHeaderFields h;
    h.compressed = compressed;
    h.max_passes = max_passes;
    Bytes out = tile_header_bytes(h);
    for (int k = 0; k < h.tiles_x * h.tiles_y; ++k) {
        const Bytes rec = record_bytes(recs[size_t(k) % recs.size()], compressed);
        out.insert(out.end(), rec.begin(), rec.end());
    }
    return out;
}

void put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    write_file((dir / name).string(), bytes);
}

// A few records of each level-2 tile file of A1 in a data set, as tile record seeds.
int records_from_data_set(const fs::path& world, const fs::path& recs) {
    int written = 0;
    for (char channel : {'R', 'G', 'B'}) {
        const fs::path file = world / "ezw_data" / tile_file_name(0, 2, channel);
        std::error_code ec;
        if (!fs::is_regular_file(file, ec)) continue;
        const Bytes bytes = read_file(file.string());
        TileSet set;
        std::string why;
        if (!parse_tile_file(bytes.data(), bytes.size(), 2, set, why)) {
            fprintf(stderr, "%s: %s (skipped)\n", file.c_str(), why.c_str());
            continue;
        }
        // The longest records (the busiest tiles) and one of middling length.
        const int slots = set.header.tiles_x * set.header.tiles_y;
        auto length = [&](int k) {
            const uint8_t* rec = set.data + set.index[k];
            return kRecordHeaderSize + size_t(read_u32le(rec + 1)) + read_u32le(rec + 5);
        };
        std::vector<int> order(size_t(slots), 0);
        for (int k = 0; k < slots; ++k) order[size_t(k)] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return length(a) > length(b); });
        for (int k : {order[0], order[1], order[2], order[3], order[size_t(slots) / 2]}) {
            const uint8_t* rec = set.data + set.index[k];
            const Bytes seed =
                record_seed(set.header.compressed != 0, set.header.max_passes, rec, length(k));
            put(recs, std::string("world_") + channel + "_" + std::to_string(k) + ".rec", seed);
            ++written;
        }
        free(set.index);
        free(set.data);
    }
    return written;
}

// A one-file picture of the fixture's base texture `sub`, every level sampled from it, written by
// the project's own writer, in T-pixel tiles coded with `coder`. Small pictures keep the files (a
// few kB) quick to mutate.
// `textured`: a fine checker over the fixture's picture, which a coarse step flattens and the
// HTJ2K tiles' restoration filter then partly restores (so the tiles carry one).
void qvk_seed(const fs::path& path, uint32_t w, uint32_t h, int sub, uint32_t T = 64,
              QvkCoder coder = QvkCoder::deflate_rgb, int derive_span = 0, int quality = 100,
              bool textured = false) {
    QvkWriter writer;
    std::string error;
    bool ok =
        writer.begin(path.string(), w, h, coder, uint32_t(quality), error, int(T), derive_span);
    const QvkHeader& hd = writer.header();
    for (int l = 1; ok && l <= hd.levels; ++l) {
        const QvkLevel& v = hd.level[l];
        if (!v.stored()) continue;
        const int shift = hd.levels - l;
        for (uint32_t ty = 0; ok && ty < v.tiles_y; ++ty)
            for (uint32_t tx = 0; ok && tx < v.tiles_x; ++tx) {
                const int tw = int(std::min<uint32_t>(T, v.width - T * tx));
                const int th = int(std::min<uint32_t>(T, v.height - T * ty));
                Bytes rgb(size_t(tw * th * 3)), coded;
                for (int y = 0; y < th; ++y)
                    for (int x = 0; x < tw; ++x) {
                        const uint32_t p =
                            fixture_base_rgb(int(T * tx + uint32_t(x)) << shift,
                                             int(T * ty + uint32_t(y)) << shift, sub);
                        const int texture = textured ? ((x + y) % 2 ? 10 : -10) : 0;
                        for (int c = 0; c < 3; ++c)
                            rgb[size_t((y * tw + x) * 3 + c)] = uint8_t(
                                std::clamp(int(p >> (16 - 8 * c) & 0xFF) + texture, 0, 255));
                    }
                ok = encode_qvk_tile(uint32_t(coder), quality, rgb.data(), size_t(tw) * 3, int(T),
                                     tw, th, coded) &&
                     writer.add_tile(l, tx, ty, coded.data(), coded.size(), error);
            }
    }
    if (!ok || !writer.finish(error)) {
        fprintf(stderr, "%s\n", error.c_str());
        exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: %s OUT_DIR [DATA_SET]\n", argv[0]);
        return 2;
    }
    const fs::path out(argv[1]);
    const fs::path raw = out / "raw_image", tiles = out / "tile_file", recs = out / "tile_record";
    const fs::path qvk = out / "qvk_file";
    for (const fs::path& d : {raw, tiles, recs, qvk}) fs::create_directories(d);

    put(raw, "rgb_1x1.pzd", raw_rgb_image(1, 1, fixture_base_rgb, 0));
    put(raw, "rgb_3x2.pzd", raw_rgb_image(3, 2, fixture_base_rgb, 1));
    put(raw, "rgb_40x8.pzd", raw_rgb_image(40, 8, fixture_base_rgb, 2));
    put(raw, "minimap_64x32.pzd", raw_rgb_image(64, 32, fixture_minimap_rgb, 0));
    put(raw, "ezw_10_6.pzd", raw_image_bytes(4, 10, 6, noise(16, 1)));
    put(raw, "ezw_empty.pzd", raw_image_bytes(4, 0, 0, {}));

    const std::vector<Record> all = records();
    for (const Record& r : all) {
        for (bool compressed : {false, true}) {
            const Bytes rec = record_bytes(r, compressed);
            const Bytes seed = record_seed(compressed, r.max_passes, rec.data(), rec.size());
            put(recs, std::string(r.name) + (compressed ? "_zlib" : "_stored") + ".rec", seed);
        }
    }

    put(tiles, "minimal_level2.ezw", minimal_tile_file(2));
    // The small records only, so that the files stay small enough to mutate quickly.
    const std::vector<Record> small(all.begin(), all.begin() + 4);
    put(tiles, "stored_level2.ezw", level2_file(small, false, 8));
    put(tiles, "zlib_level2.ezw", level2_file(small, true, 8));
    const std::vector<Record> mixed = {all[0], all[6], all[1], all[2]};
    put(tiles, "mixed_zlib_level2.ezw", level2_file(mixed, true, 7));

    // Records of the project's encoder, single and in a level-2 file whose first tiles hold them
    // (the rest are empty records, to keep the file small).
    for (int kind = 1; kind <= 6; ++kind) {
        const uint8_t passes = uint8_t(kind % 2 ? 7 : 5);
        const EncodedChannel ch = encoded_channel(kind, passes);
        for (bool compressed : {false, true}) {
            Bytes rec;
            append_record(rec, ch, compressed);
            const Bytes seed = record_seed(compressed, passes, rec.data(), rec.size());
            put(recs,
                "encoded_" + std::to_string(kind) + (compressed ? "_zlib" : "_stored") + ".rec",
                seed);
        }
    }
    for (bool compressed : {false, true}) {
        TileHeaderFields h;
        h.compressed = compressed;
        h.max_passes = 7;
        Bytes file = tile_header_bytes(h);
        EncodedChannel empty;
        encode_channel(std::vector<float>(kTileCoeffs, 0.0f).data(), 0, 7, empty, nullptr);
        for (int k = 0; k < h.tiles_x * h.tiles_y; ++k)
            append_record(file, k < 12 ? encoded_channel(k + 1, 7) : empty, compressed);
        put(tiles, std::string("encoded_level2_") + (compressed ? "zlib" : "stored") + ".ezw",
            file);
    }
    // One-file pictures: one tile, a tile's edge crossed each way, three levels, a wide strip.
    qvk_seed(qvk / "one_pixel.qvk", 1, 1, 0);
    qvk_seed(qvk / "tile_64x64.qvk", 64, 64, 1);
    qvk_seed(qvk / "edge_65x63.qvk", 65, 63, 2);
    qvk_seed(qvk / "three_levels_200x100.qvk", 200, 100, 3);
    qvk_seed(qvk / "strip_300x5.qvk", 300, 5, 4);
    qvk_seed(qvk / "tiles_128_300x5.qvk", 300, 5, 5, 128);
    // HTJ2K tiles, each cut at the picture's edge: 128 x 100 and 72 x 100, then 100 x 50 (the
    // first tile after the index, which the target also decodes from the raw bytes).
    qvk_seed(qvk / "htj2k_200x100.qvk", 200, 100, 3, 128, QvkCoder::htj2k);
    // Levels 3 and 1 derived from the tiles of levels 4 and 2.
    qvk_seed(qvk / "htj2k_derived_600x300.qvk", 600, 300, 2, 128, QvkCoder::htj2k, 1);
    // Tiles that carry the restoration filter in a comment segment.
    qvk_seed(qvk / "htj2k_filtered_300x200.qvk", 300, 200, 1, 128, QvkCoder::htj2k, 0, 20, true);

    if (argc == 3) {
        const int n = records_from_data_set(argv[2], recs);
        printf("%d records taken from %s\n", n, argv[2]);
    }
    printf("seeds written to %s\n", out.c_str());
    return 0;
}
