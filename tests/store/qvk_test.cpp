// The one-file picture form: geometry and page layout, round trips through the writer, the reader
// and the tile coder, the reader's answer to each kind of damage, and the writer's own rules.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "decoder/qvk_tile.h"
#include "encoder/qvk_tile_encode.h"
#include "store/qvk_file.h"
#include "store/qvk_writer.h"
#include "tests/support/fixture.h"

namespace {

QvkHeader layout(uint32_t w, uint32_t h) {
    QvkHeader hd;
    hd.width = w;
    hd.height = h;
    hd.levels = qvk_level_count(w, h, kQvkTileSize);
    qvk_layout(hd);
    return hd;
}

// Test pictures: gradients with a little noise, different on every level and channel.
uint8_t pixel(int l, uint32_t x, uint32_t y, int c) {
    uint32_t v = x * 2654435761u ^ (y + 7919u * uint32_t(l)) * 40503u ^ uint32_t(c) * 0x9e3779b9u;
    v ^= v >> 15;
    v *= 0x2c1b3c6du;
    v ^= v >> 12;
    return uint8_t(x * uint32_t(c + 1) + y * uint32_t(3 - c) + uint32_t(l) * 50 + (v & 15));
}

void tile_size(const QvkLevel& v, uint32_t tx, uint32_t ty, int& w, int& h) {
    w = int(std::min<uint32_t>(64, v.width - 64 * tx));
    h = int(std::min<uint32_t>(64, v.height - 64 * ty));
}

std::vector<uint8_t> coded_tile(const QvkLevel& v, int l, uint32_t tx, uint32_t ty) {
    int w, h;
    tile_size(v, tx, ty, w, h);
    std::vector<uint8_t> rgb(size_t(w * h * 3)), out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x)
            rgb[size_t(y * w * 3 + x)] =
                pixel(l, 64 * tx + uint32_t(x / 3), 64 * ty + uint32_t(y), x % 3);
    EXPECT_TRUE(encode_qvk_tile(1, 0, rgb.data(), w * 3, w, h, out));
    return out;
}

struct TileId {
    int l;
    uint32_t tx, ty;
};

// Writes a w x h picture; `threads` writers add the tiles, shuffled when `shuffle`.
std::string write_picture(const std::string& path, uint32_t w, uint32_t h, bool shuffle = false,
                          int threads = 1) {
    QvkWriter writer;
    std::string error;
    if (!writer.begin(path, w, h, QvkCoder::deflate_rgb, 100, error)) return error;
    std::vector<TileId> ids;
    for (int l = 1; l <= writer.header().levels; ++l)
        for (uint32_t ty = 0; ty < writer.header().level[l].tiles_y; ++ty)
            for (uint32_t tx = 0; tx < writer.header().level[l].tiles_x; ++tx)
                ids.push_back({l, tx, ty});
    if (shuffle) std::shuffle(ids.begin(), ids.end(), std::mt19937(42));
    std::vector<std::string> errors(static_cast<size_t>(threads));
    auto run = [&](int k) {
        for (size_t i = size_t(k); i < ids.size(); i += size_t(threads)) {
            const TileId& t = ids[i];
            const auto bytes = coded_tile(writer.header().level[t.l], t.l, t.tx, t.ty);
            if (!writer.add_tile(t.l, t.tx, t.ty, bytes.data(), bytes.size(), errors[size_t(k)]))
                return;
        }
    };
    std::vector<std::thread> pool;
    for (int k = 0; k < threads; ++k) pool.emplace_back(run, k);
    for (std::thread& t : pool) t.join();
    for (const std::string& e : errors)
        if (!e.empty()) return e;
    return writer.finish(error) ? "" : error;
}

// Reads and decodes every tile of every level and compares it with the picture.
void verify_picture(const std::string& path, uint32_t w, uint32_t h) {
    std::string error;
    auto file = QvkFile::open(path, error);
    ASSERT_TRUE(file) << error;
    ASSERT_EQ(file->header().width, w);
    ASSERT_EQ(file->header().height, h);
    std::vector<uint8_t> bytes, out(64 * 64 * 4);
    for (int l = 1; l <= file->levels(); ++l) {
        const QvkLevel& v = file->level(l);
        for (uint32_t ty = 0; ty < v.tiles_y; ++ty)
            for (uint32_t tx = 0; tx < v.tiles_x; ++tx) {
                std::string why;
                ASSERT_TRUE(file->read_tile(l, tx, ty, bytes, why))
                    << l << " " << tx << " " << ty << ": " << why;
                int tw, th;
                tile_size(v, tx, ty, tw, th);
                ASSERT_TRUE(
                    decode_qvk_tile(1, bytes.data(), bytes.size(), tw, th, out.data(), 256));
                bool same = true;
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x)
                        for (int c = 0; c < 3; ++c) {
                            const bool in = x < tw && y < th;
                            const uint8_t want =
                                in ? pixel(l, 64 * tx + uint32_t(x), 64 * ty + uint32_t(y), c) : 0;
                            same &= out[size_t(y * 256 + x * 4 + c)] == want;
                        }
                ASSERT_TRUE(same) << "level " << l << " tile " << tx << ", " << ty;
            }
    }
    std::vector<uint8_t> dummy;
    std::string why;
    EXPECT_FALSE(file->read_tile(file->levels() + 1, 0, 0, dummy, why));
    EXPECT_EQ(why, "no such tile");
    EXPECT_FALSE(file->read_tile(1, 1, 0, dummy, why));
    EXPECT_LE(file->cached_pages(), QvkFile::kMaxCachedPages);
}

class QvkTest : public ::testing::Test {
  protected:
    void SetUp() override { dir = make_temp_dir("quorvik-qvk"); }
    void TearDown() override { remove_tree(dir); }
    size_t files_in_dir() const {
        return size_t(std::distance(std::filesystem::directory_iterator(dir), {}));
    }
    std::string dir;
};

TEST(QvkGeometry, LevelsAndLevelSizes) {
    struct Case {
        uint32_t w, h;
        int levels;
        uint32_t w1, h1, tiles_x, tiles_y;  // level 1's size, the finest level's tile grid
    };
    const Case cases[] = {
        {1, 1, 1, 1, 1, 1, 1},
        {64, 64, 1, 64, 64, 1, 1},
        {65, 64, 2, 33, 32, 2, 1},
        {63, 65, 2, 32, 33, 1, 2},
        {1000, 3, 5, 63, 1, 16, 1},
        {5000, 3000, 8, 40, 24, 79, 47},
        {2097152, 1, 16, 64, 1, 32768, 1},
        {2097152, 2097152, 16, 64, 64, 32768, 32768},
        {128, 129, 3, 32, 33, 2, 3},
    };
    for (const Case& c : cases) {
        const QvkHeader h = layout(c.w, c.h);
        ASSERT_EQ(h.levels, c.levels) << c.w << "x" << c.h;
        EXPECT_EQ(h.level[1].width, c.w1) << c.w << "x" << c.h;
        EXPECT_EQ(h.level[1].height, c.h1) << c.w << "x" << c.h;
        EXPECT_EQ(h.level[h.levels].width, c.w);
        EXPECT_EQ(h.level[h.levels].tiles_x, c.tiles_x);
        EXPECT_EQ(h.level[h.levels].tiles_y, c.tiles_y);
        uint64_t at = h.header_size();
        for (int l = 1; l <= h.levels; ++l) {
            EXPECT_EQ(h.level[l].index_offset, at);
            at += h.level[l].index_length;
        }
        EXPECT_EQ(h.data_offset, at);
    }
}

TEST(QvkGeometry, PageOffsetsMatchACumulativeWalk) {
    for (uint32_t tiles_x : {1u, 64u, 65u, 64u * 70 + 13})
        for (uint32_t tiles_y : {1u, 63u, 129u, 64u * 130}) {
            const QvkHeader h = layout(64 * tiles_x, 64 * tiles_y);
            const QvkLevel& v = h.level[h.levels];
            ASSERT_EQ(v.tiles_x, tiles_x);
            uint64_t at = v.index_offset;
            for (uint32_t py = 0; py < v.pages_y; ++py)
                for (uint32_t px = 0; px < v.pages_x; ++px) {
                    const uint32_t pw = std::min<uint32_t>(64, tiles_x - 64 * px);
                    const uint32_t ph = std::min<uint32_t>(64, tiles_y - 64 * py);
                    for (uint32_t corner = 0; corner < 4; ++corner) {
                        const uint32_t dx = corner & 1 ? pw - 1 : 0, dy = corner & 2 ? ph - 1 : 0;
                        const QvkPageRef r = qvk_page_of(v, 64 * px + dx, 64 * py + dy);
                        ASSERT_EQ(r.px, px);
                        ASSERT_EQ(r.py, py);
                        ASSERT_EQ(r.width, pw);
                        ASSERT_EQ(r.height, ph);
                        ASSERT_EQ(r.offset, at)
                            << tiles_x << "x" << tiles_y << " page " << px << "," << py;
                        ASSERT_EQ(r.slot, dy * pw + dx);
                    }
                    at += 16 * uint64_t(pw) * ph + 4;
                }
            EXPECT_EQ(at, v.index_offset + v.index_length);
        }
}

TEST_F(QvkTest, RoundTripsPicturesOfAwkwardSizes) {
    struct Case {
        uint32_t w, h;
        bool shuffle;
        int threads;
    };
    for (const Case& c : {Case{1, 1, false, 1}, Case{63, 65, true, 1}, Case{1000, 3, false, 1},
                          Case{4160, 70, true, 2}, Case{5000, 3000, true, 2}}) {
        const std::string path =
            dir + "/p" + std::to_string(c.w) + "x" + std::to_string(c.h) + ".qvk";
        ASSERT_EQ(write_picture(path, c.w, c.h, c.shuffle, c.threads), "");
        verify_picture(path, c.w, c.h);
    }
    EXPECT_EQ(files_in_dir(), 5u);  // no temporary file left
}

TEST(QvkTile, DamagedStreamsAreRefused) {
    std::vector<uint8_t> rgb(40 * 30 * 3, 77), coded, out(64 * 64 * 4);
    ASSERT_TRUE(encode_qvk_tile(1, 0, rgb.data(), 120, 40, 30, coded));
    EXPECT_TRUE(decode_qvk_tile(1, coded.data(), coded.size(), 40, 30, out.data(), 256));
    EXPECT_FALSE(decode_qvk_tile(1, coded.data(), coded.size() - 1, 40, 30, out.data(), 256));
    coded.push_back(0);  // a byte after the stream's end
    EXPECT_FALSE(decode_qvk_tile(1, coded.data(), coded.size(), 40, 30, out.data(), 256));
    coded.pop_back();
    EXPECT_FALSE(decode_qvk_tile(1, coded.data(), coded.size(), 40, 29, out.data(), 256));
    EXPECT_FALSE(decode_qvk_tile(1, coded.data(), coded.size(), 40, 31, out.data(), 256));
    EXPECT_FALSE(decode_qvk_tile(2, coded.data(), coded.size(), 40, 30, out.data(), 256));
    EXPECT_FALSE(decode_qvk_tile(1, coded.data(), coded.size(), 0, 30, out.data(), 256));
    EXPECT_FALSE(encode_qvk_tile(1, 0, rgb.data(), 120, 65, 30, coded));
    EXPECT_FALSE(encode_qvk_tile(7, 0, rgb.data(), 120, 40, 30, coded));
}

// A 200 x 100 picture: three levels of 1, 2 x 1 and 4 x 2 tiles, a 116-byte header.
void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void put64(Bytes& b, size_t at, uint64_t v) {
    put32(b, at, uint32_t(v));
    put32(b, at + 4, uint32_t(v >> 32));
}
uint64_t get64(const Bytes& b, size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
    return v;
}
void reseal(Bytes& b) {
    put32(b, 112, uint32_t(crc32(0, b.data(), 112)));
}

TEST_F(QvkTest, HeaderFaultsAreNamed) {
    const std::string good = dir + "/good.qvk", path = dir + "/bad.qvk";
    ASSERT_EQ(write_picture(good, 200, 100), "");
    const Bytes valid = read_file(good);
    const uint64_t len = valid.size(), l1 = get64(valid, 64), l3 = get64(valid, 96);
    const std::string L = std::to_string(len);
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool seal;
        std::string fault;
    };
    const Case cases[] = {
        {"magic", [](Bytes& b) { b[1] = 'X'; }, false, "not a QUORVIK picture (wrong magic)"},
        {"empty", [](Bytes& b) { b.clear(); }, false, "not a QUORVIK picture (wrong magic)"},
        {"version", [](Bytes& b) { put32(b, 8, 2); }, false,
         "unsupported version 2 (this program reads version 1)"},
        {"shorter than the magic", [](Bytes& b) { b.resize(5); }, false,
         "truncated: the header needs 64 bytes, the file has 5"},
        {"short fixed part", [](Bytes& b) { b.resize(50); }, false,
         "truncated: the header needs 64 bytes, the file has 50"},
        {"short levels", [](Bytes& b) { b.resize(100); }, false,
         "truncated: the header needs 116 bytes, the file has 100"},
        {"truncated", [](Bytes& b) { b.resize(b.size() - 10); }, false,
         "truncated: the header gives " + L + " bytes, the file has " + std::to_string(len - 10)},
        {"extended", [](Bytes& b) { b.resize(b.size() + 5); }, false,
         "5 bytes beyond the length the header gives (" + L + ")"},
        {"field flipped", [](Bytes& b) { b[20] ^= 1; }, false, "header checksum mismatch"},
        {"crc flipped", [](Bytes& b) { b[113] ^= 0x80; }, false, "header checksum mismatch"},
        {"width 0", [](Bytes& b) { put32(b, 24, 0); }, true,
         "bad picture size 0x100 (each side must be 1..2097152)"},
        {"height 2^21+1", [](Bytes& b) { put32(b, 28, 2097153); }, true,
         "bad picture size 200x2097153 (each side must be 1..2097152)"},
        {"levels 17", [](Bytes& b) { put32(b, 32, 17); }, false,
         "bad level count 17 (a 200x100 picture in 64-pixel tiles has 3)"},
        {"levels 0", [](Bytes& b) { put32(b, 32, 0); }, false,
         "bad level count 0 (a 200x100 picture in 64-pixel tiles has 3)"},
        {"levels for width", [](Bytes& b) { put32(b, 24, 64); }, true,
         "bad level count 3 (a 64x100 picture in 64-pixel tiles has 2)"},
        {"header size", [](Bytes& b) { put32(b, 12, 120); }, false,
         "bad header size 120 (a header of 3 levels has 116 bytes)"},
        {"tile size", [](Bytes& b) { put32(b, 36, 32); }, true,
         "unsupported tile size 32 (this program reads 64)"},
        {"coder", [](Bytes& b) { put32(b, 40, 7); }, true, "unknown tile coder 7"},
        {"data offset", [&](Bytes& b) { put64(b, 48, len + 1); }, true,
         "the tiles' start (" + std::to_string(len + 1) + ") lies outside the file (" + L +
             " bytes)"},
        {"data offset in header", [](Bytes& b) { put64(b, 48, 100); }, true,
         "the tiles' start (100) lies inside the header (116 bytes)"},
        {"index in header", [](Bytes& b) { put64(b, 64, 100); }, true,
         "index of level 1 overlaps the header"},
        {"index beyond file", [&](Bytes& b) { put64(b, 96, len); }, true,
         "index of level 3 points outside the file"},
        {"index past tiles' start", [&](Bytes& b) { put64(b, 96, l3 + 1); }, true,
         "index of level 3 points outside the file"},
        {"index overlap", [&](Bytes& b) { put64(b, 80, l1 + 4); }, true,
         "index of level 2 overlaps the index of level 1"},
        {"index length", [](Bytes& b) { put64(b, 104, 148); }, true,
         "index of level 3 has 148 bytes, its tiles need 132"},
        {"finest level derived", [](Bytes& b) { put64(b, 96, 0), put64(b, 104, 0); }, true,
         "the finest level has no index"},
        {"level derived from deflate tiles", [](Bytes& b) { put64(b, 64, 0), put64(b, 72, 0); },
         true, "level 1 has no index (tile coder 1 in 64-pixel tiles derives no levels)"},
    };
    for (const Case& c : cases) {
        Bytes b = valid;
        c.damage(b);
        if (c.seal) reseal(b);
        write_file(path, b);
        std::string error;
        EXPECT_FALSE(QvkFile::open(path, error)) << c.what;
        EXPECT_EQ(error, path + ": " + c.fault) << c.what;
    }
    std::string error;
    EXPECT_FALSE(QvkFile::open(dir + "/none.qvk", error));
    EXPECT_EQ(error, dir + "/none.qvk: No such file or directory");
    // A header read in part asks for the rest.
    QvkHeader h;
    size_t needed = 0;
    EXPECT_NE(qvk_read_header(valid.data(), 64, len, h, &needed), "");
    EXPECT_EQ(needed, 116u);
    EXPECT_EQ(qvk_read_header(valid.data(), 116, len, h, &needed), "");
    EXPECT_EQ(h.levels, 3);
}

// Which levels are derived survives the header's round trip, within what the coder and tile size
// allow; a level further from its stored level than that is refused.
TEST(QvkGeometry, DerivedLevelsRoundTripThroughTheHeader) {
    const struct {
        uint32_t coder;
        int tile, span;
        const char* reduce;  // of levels 1 .. 9 (70000 x 1000 pixels)
    } cases[] = {{2, 512, 3, "032103210"}, {2, 512, 9, "032103210"}, {2, 256, 3, "210210210"},
                 {2, 128, 1, "010101010"}, {2, 64, 3, "000000000"},  {1, 512, 3, "000000000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.coder) + " " + std::to_string(c.tile));
        QvkHeader h;
        h.width = 70000 * uint32_t(c.tile) / 512;
        h.height = 1000;
        h.tile_size = c.tile;
        h.levels = qvk_level_count(h.width, h.height, c.tile);
        ASSERT_EQ(h.levels, 9);
        h.coder = c.coder;
        qvk_derive_levels(h, c.span);
        qvk_layout(h);
        h.file_length = h.data_offset;
        Bytes b(h.header_size());
        qvk_write_header(h, b.data());
        QvkHeader r;
        ASSERT_EQ(qvk_read_header(b.data(), b.size(), h.file_length, r), "");
        std::string reduce;
        for (int l = 1; l <= r.levels; ++l) reduce += char('0' + r.level[l].reduce);
        EXPECT_EQ(reduce, c.reduce);
        EXPECT_EQ(r.data_offset, h.data_offset);
        // One more derived level than allowed.
        if (c.coder != 2 || c.tile == 64) continue;
        const int most = qvk_max_reduce(c.coder, c.tile);
        for (int l = 8; l >= 8 - most; --l) h.level[l].reduce = 8 - l + 1;
        qvk_layout(h);
        h.file_length = h.data_offset;
        b.assign(h.header_size(), 0);
        qvk_write_header(h, b.data());
        EXPECT_EQ(qvk_read_header(b.data(), b.size(), h.file_length, r),
                  "level " + std::to_string(8 - most) + " lies " + std::to_string(most + 1) +
                      " levels above the nearest stored level (at most " + std::to_string(most) +
                      " with " + std::to_string(c.tile) + "-pixel tiles)");
    }
}

// A 4160 x 70 picture: its finest level (8) has two pages (64 + 1 tiles wide, 2 rows).
TEST_F(QvkTest, DamagedPagesAndTilesFailAlone) {
    const std::string path = dir + "/p.qvk";
    ASSERT_EQ(write_picture(path, 4160, 70), "");
    const Bytes valid = read_file(path);
    const QvkHeader h = layout(4160, 70);
    const int F = h.levels;  // the finest
    const QvkLevel& v = h.level[F];
    const QvkPageRef p0 = qvk_page_of(v, 0, 0), p1 = qvk_page_of(v, 64, 1);
    ASSERT_NE(p0.offset, p1.offset);
    auto entry = [&](const Bytes& b, uint32_t tx, uint32_t ty) {
        const QvkPageRef r = qvk_page_of(v, tx, ty);
        return qvk_page_entry(b.data() + r.offset, r.slot);
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        TileId bad, good;
        std::string fault;
    };
    const auto reentry = [&](Bytes& b, uint32_t tx, QvkTileEntry e) {
        const QvkPageRef r = qvk_page_of(v, tx, 0);
        qvk_put_page_entry(b.data() + r.offset, r.slot, e);
        qvk_seal_page(r, b.data() + r.offset);
    };
    const Case cases[] = {
        {"page",
         [&](Bytes& b) { b[p0.offset + 40] ^= 1; },
         {F, 5, 1},
         {F, 64, 0},
         "index page checksum mismatch"},
        {"page crc",
         [&](Bytes& b) { b[p1.offset + p1.bytes - 1] ^= 1; },
         {F, 64, 1},
         {F, 63, 1},
         "index page checksum mismatch"},
        {"tile",
         [&](Bytes& b) { b[entry(b, 5, 0).offset + 3] ^= 4; },
         {F, 5, 0},
         {F, 6, 0},
         "tile checksum mismatch"},
        {"entry outside",
         [&](Bytes& b) {
             reentry(b, 7, {b.size() - 2, 10, 0});
         },
         {F, 7, 0},
         {F, 8, 0},
         "tile entry points outside the file"},
        {"entry in index",
         [&](Bytes& b) {
             reentry(b, 7, {h.data_offset - 1, 10, 0});
         },
         {F, 7, 0},
         {F, 6, 0},
         "tile entry points outside the file"},
        {"entry length 0",
         [&](Bytes& b) {
             reentry(b, 7, {h.data_offset, 0, 0});
         },
         {F, 7, 0},
         {1, 0, 0},
         "tile entry has length 0 (must be 1..1048576)"},
    };
    for (const Case& c : cases) {
        Bytes b = valid;
        c.damage(b);
        write_file(path, b);
        std::string error, why;
        auto file = QvkFile::open(path, error);
        ASSERT_TRUE(file) << c.what << ": " << error;
        std::vector<uint8_t> out;
        for (int twice = 0; twice < 2; ++twice) {  // the second time from the page cache
            EXPECT_FALSE(file->read_tile(c.bad.l, c.bad.tx, c.bad.ty, out, why)) << c.what;
            EXPECT_EQ(why, c.fault) << c.what;
            EXPECT_TRUE(file->read_tile(c.good.l, c.good.tx, c.good.ty, out, why))
                << c.what << ": " << why;
        }
    }
}

// A file the writer did not make: 9 x 8 pages whose every entry names the same tile, read one
// tile a page; the cache keeps the last 64 pages.
TEST(QvkFileCache, KeepsAtMostItsLimit) {
    QvkHeader h = layout(64 * 64 * 9, 64 * 64 * 8);
    const QvkLevel& v = h.level[h.levels];
    std::vector<uint8_t> rgb(64 * 64 * 3, 9), tile;
    ASSERT_TRUE(encode_qvk_tile(1, 0, rgb.data(), 192, 64, 64, tile));
    h.file_length = h.data_offset + tile.size();
    Bytes b(h.file_length);
    qvk_write_header(h, b.data());
    std::copy(tile.begin(), tile.end(), b.begin() + long(h.data_offset));
    const QvkTileEntry e{h.data_offset, uint32_t(tile.size()),
                         uint32_t(crc32(0, tile.data(), uInt(tile.size())))};
    for (int l = 1; l <= h.levels; ++l)
        for (uint32_t py = 0; py < h.level[l].pages_y; ++py)
            for (uint32_t px = 0; px < h.level[l].pages_x; ++px) {
                const QvkPageRef r = qvk_page_of(h.level[l], 64 * px, 64 * py);
                for (uint32_t s = 0; s < r.width * r.height; ++s)
                    qvk_put_page_entry(b.data() + r.offset, s, e);
                qvk_seal_page(r, b.data() + r.offset);
            }
    std::string error, why;
    auto file = QvkFile::open(memory_source("mem.qvk", b.data(), b.size()), error);
    ASSERT_TRUE(file) << error;
    std::vector<uint8_t> out;
    for (uint32_t py = 0; py < v.pages_y; ++py)
        for (uint32_t px = 0; px < v.pages_x; ++px) {
            ASSERT_TRUE(file->read_tile(h.levels, 64 * px + 3, 64 * py + 5, out, why)) << why;
            EXPECT_EQ(out, tile);
        }
    EXPECT_EQ(file->cached_pages(), QvkFile::kMaxCachedPages);
}

TEST_F(QvkTest, WriterLeavesNothingUnfinished) {
    const std::string path = dir + "/w.qvk";
    const Bytes one = {1, 2, 3};
    std::string error;
    {
        QvkWriter w;
        ASSERT_TRUE(w.begin(path, 100, 10, QvkCoder::deflate_rgb, 0, error)) << error;
        EXPECT_EQ(files_in_dir(), 1u);  // the temporary file
        // A tile again: while its page is open, and after it was written.
        ASSERT_TRUE(w.add_tile(2, 0, 0, one.data(), 3, error)) << error;
        EXPECT_FALSE(w.add_tile(2, 0, 0, one.data(), 3, error));
        EXPECT_EQ(error, path + ": tile (0, 0) of level 2 came twice");
        ASSERT_TRUE(w.add_tile(2, 1, 0, one.data(), 3, error)) << error;
        EXPECT_FALSE(w.add_tile(2, 1, 0, one.data(), 3, error));
        EXPECT_EQ(error, path + ": tile (1, 0) of level 2 came twice");
        EXPECT_FALSE(w.add_tile(2, 2, 0, one.data(), 3, error));
        EXPECT_EQ(error, path + ": there is no tile (2, 0) of level 2");
        EXPECT_FALSE(w.add_tile(1, 0, 0, one.data(), 0, error));
        EXPECT_EQ(error, path + ": tile (0, 0) of level 1 has 0 bytes (must be 1..1048576)");
        EXPECT_FALSE(w.finish(error));
        EXPECT_EQ(error, path + ": 1 tiles missing");
        EXPECT_EQ(files_in_dir(), 0u);
    }
    {
        QvkWriter w;
        ASSERT_TRUE(w.begin(path, 100, 10, QvkCoder::deflate_rgb, 0, error)) << error;
        ASSERT_TRUE(w.add_tile(1, 0, 0, one.data(), 3, error)) << error;
    }
    EXPECT_EQ(files_in_dir(), 0u);  // the destructor removed it
    QvkWriter w;
    EXPECT_FALSE(w.begin(path, 0, 10, QvkCoder::deflate_rgb, 0, error));
    EXPECT_FALSE(w.begin(dir + "/none/x.qvk", 1, 1, QvkCoder::deflate_rgb, 0, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
    // What a killed build left goes with the next build of the same file; a running build's
    // file (process 1 always runs) and other files stay.
    for (const char* left : {"w.qvk.partial-999999999", "w.qvk.partial-1", "w.qvk.partial-x"})
        write_file(dir + "/" + left, one);
    QvkWriter again;
    ASSERT_TRUE(again.begin(path, 1, 1, QvkCoder::deflate_rgb, 0, error)) << error;
    again.abort();
    EXPECT_FALSE(std::filesystem::exists(dir + "/w.qvk.partial-999999999"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/w.qvk.partial-1"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/w.qvk.partial-x"));
}

}  // namespace

// Stored tiles of any allowed size: the header says which, the levels follow from it, and any
// other size is refused by name, with the nearest sizes this program reads.
TEST_F(QvkTest, TileSizesAreThePowersOfTwoFrom64To1024) {
    const std::string good = dir + "/good.qvk", path = dir + "/bad.qvk";
    ASSERT_EQ(write_picture(good, 200, 100), "");
    const Bytes valid = read_file(good);
    const struct {
        uint32_t tile, levels;  // levels: 0 keeps the header's 3
        std::string fault;      // "" when the file opens
    } cases[] = {
        {32, 0, "unsupported tile size 32 (this program reads 64)"},
        {96, 0, "unsupported tile size 96 (this program reads 64 or 128)"},
        {1000, 0, "unsupported tile size 1000 (this program reads 512 or 1024)"},
        {2048, 0, "unsupported tile size 2048 (this program reads 1024)"},
        {0, 0, "unsupported tile size 0 (this program reads 64)"},
        // A level count out of range with a bad tile size names the tile size.
        {2048, 17, "unsupported tile size 2048 (this program reads 1024)"},
        // 200 x 100 fits one 256-pixel tile: one level, not three.
        {256, 0, "bad level count 3 (a 200x100 picture in 256-pixel tiles has 1)"},
        {128, 0, "bad level count 3 (a 200x100 picture in 128-pixel tiles has 2)"},
    };
    for (const auto& c : cases) {
        Bytes b = valid;
        put32(b, 36, c.tile);
        if (c.levels) put32(b, 32, c.levels);
        reseal(b);
        write_file(path, b);
        std::string error;
        EXPECT_FALSE(QvkFile::open(path, error)) << c.tile;
        EXPECT_EQ(error, path + ": " + c.fault) << c.tile;
    }
    // The writer refuses them before creating anything.
    for (int tile : {0, 32, 96, 2048, -64}) {
        QvkWriter w;
        std::string error;
        EXPECT_FALSE(w.begin(path + "2", 10, 10, QvkCoder::deflate_rgb, 0, error, tile));
        EXPECT_EQ(error, path + "2: bad tile size " + std::to_string(tile) +
                             " (must be a power of two from 64 to 1024)");
    }
    EXPECT_FALSE(std::filesystem::exists(path + "2"));
}

// A coded tile's bound grows with the stored tile: a length refused for 64-pixel tiles is sound
// in a file of 1024-pixel ones, up to 16 bytes a pixel.
TEST_F(QvkTest, TileLengthBoundFollowsTheTileSize) {
    const struct {
        int tile;
        uint32_t length;
        bool ok;
    } cases[] = {{64, 1u << 20, true},    {64, (1u << 20) + 1, false},
                 {512, 4u << 20, true},   {512, (4u << 20) + 1, false},
                 {1024, 16u << 20, true}, {1024, (16u << 20) + 1, false}};
    for (const auto& c : cases) {
        QvkHeader h;
        h.tile_size = c.tile;
        h.data_offset = 100;
        h.file_length = 100 + (32u << 20);
        const std::string fault = qvk_check_entry(h, QvkTileEntry{100, c.length, 0});
        EXPECT_EQ(fault.empty(), c.ok) << c.tile << " " << c.length << ": " << fault;
    }
}
