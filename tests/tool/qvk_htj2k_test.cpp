// HTJ2K tiles (coder 2) through the builder, the file, the decoder and the renderer: every level
// near the reference pyramid and the same for any thread count, damaged codestreams refused and
// drawn from the coarser level, and the tool's --coder.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "builder/qvk_build.h"
#include "builder/qvk_verify.h"
#include "builder/tile_coder.h"
#include "decoder/qvk_tile.h"
#include "render/qvk_picture.h"
#include "render/tile_borders.h"
#include "render/tile_scratch.h"
#include "store/qvk_file.h"
#include "tests/support/fixture.h"
#include "tests/support/rgb_picture.h"

namespace {

// Smooth, as photographs mostly are, with every channel different.
Rgb smooth(uint32_t w, uint32_t h) {
    Rgb p{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* d = &p.px[(size_t(y) * w + x) * 3];
            d[0] = uint8_t(128 + 100 * std::sin(x / 37.0) * std::cos(y / 53.0));
            d[1] = uint8_t((x + 2 * y) * 255 / (w + 2 * h));
            d[2] = uint8_t(128 + 90 * std::sin((x + y) / 91.0));
        }
    return p;
}

void build(const std::string& path, const Rgb& src, int tile, int quality, int threads,
           int derive_span = -1) {
    Rows rows(src);
    builder::QvkBuildOptions opt;
    opt.out = path;
    opt.threads = threads;
    opt.progress = false;
    opt.tile_size = tile;
    opt.coder = QvkCoder::htj2k;
    opt.quality = quality;
    opt.derive_span = derive_span;
    builder::build_qvk(rows, opt);
}

// Level l decoded whole from the tiles that hold it (its own, or for a derived level its stored
// level's at reduced resolution), four bytes a pixel; `stray` counts the pixels the decoder left
// non-black beyond each tile's edge.
bool decode_level(const QvkFile& f, int l, std::vector<uint8_t>& out, int& stray) {
    const QvkLevel& v = f.level(l);
    const int r = v.reduce, source = l + r;
    const QvkLevel& sv = f.level(source);
    const uint32_t T = uint32_t(f.header().tile_size), S = T >> r;
    out.assign(size_t(v.width) * v.height * 4, 0);
    std::vector<uint8_t> coded, tile(size_t(S) * S * 4);
    for (uint32_t ty = 0; ty < sv.tiles_y; ++ty)
        for (uint32_t tx = 0; tx < sv.tiles_x; ++tx) {
            std::string why;
            if (!f.read_tile(source, tx, ty, coded, why)) return false;
            const uint32_t sw = std::min(T, sv.width - tx * T),
                           sh = std::min(T, sv.height - ty * T);
            const uint32_t w = (sw + (1u << r) - 1) >> r, h = (sh + (1u << r) - 1) >> r;
            std::fill(tile.begin(), tile.end(), 0x5a);
            if (!decode_qvk_tile_reduced(2, coded.data(), coded.size(), int(T), int(sw), int(sh), r,
                                         tile.data(), size_t(S) * 4))
                return false;
            for (uint32_t y = 0; y < S; ++y)
                for (uint32_t x = 0; x < S; ++x) {
                    const uint8_t* p = &tile[(size_t(y) * S + x) * 4];
                    if (x >= w || y >= h) {
                        stray += (p[0] | p[1] | p[2] | p[3]) != 0;
                        continue;
                    }
                    memcpy(&out[((size_t(ty * S + y)) * v.width + tx * S + x) * 4], p, 4);
                }
        }
    return true;
}

double psnr(const std::vector<uint8_t>& rgba, const Rgb& ref) {
    double se = 0;
    for (size_t i = 0, n = size_t(ref.w) * ref.h; i < n; ++i)
        for (size_t c = 0; c < 3; ++c) {
            const double d = double(rgba[4 * i + c]) - ref.px[3 * i + c];
            se += d * d;
        }
    const double mse = se / (3.0 * ref.w * ref.h);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

}  // namespace

// Awkward sizes in two tile sizes: each level within the bound of its reference, and the same
// pixels from a file built on one thread as from one built on two, decoded on two threads at once.
// (Not the same bytes: OpenJPH 0.9 decides whether to code an all-zero code block at a band's
// right edge from its line buffers' uninitialised padding, so such a block may be present in one
// build and absent in another; either decodes to zeros.)
TEST(QvkHtj2k, EveryLevelRoundTripsNearTheReferenceForAnyThreads) {
    const std::string dir = make_temp_dir("qvk-htj2k");
    const struct {
        uint32_t w, h;
        int tile;
        int levels;
    } cases[] = {{1000, 3, 256, 3},  {1000, 3, 512, 2},    {333, 197, 256, 2},
                 {333, 197, 512, 1}, {2500, 1300, 256, 5}, {2500, 1300, 512, 4}};
    for (const auto& c : cases) {
        const std::string what =
            std::to_string(c.w) + "x" + std::to_string(c.h) + " in " + std::to_string(c.tile);
        SCOPED_TRACE(what);
        const Rgb src = smooth(c.w, c.h);
        const std::string one = dir + "/one.qvk", two = dir + "/two.qvk";
        build(one, src, c.tile, 90, 1);
        build(two, src, c.tile, 90, 2);
        std::string error;
        auto f1 = QvkFile::open(one, error);
        ASSERT_TRUE(f1) << error;
        auto f = QvkFile::open(two, error);
        ASSERT_TRUE(f) << error;
        EXPECT_EQ(f->header().coder, 2u);
        EXPECT_EQ(f->header().coder_param, 90u);
        ASSERT_EQ(f->levels(), c.levels);
        Rgb ref = src;
        int derived = 0;
        for (int l = c.levels; l >= 1; --l, ref = halve(ref)) {
            std::vector<uint8_t> a, b;
            int stray_a = 0, stray_b = 0;
            bool ok_a = false, ok_b = false;
            std::thread other([&] { ok_b = decode_level(*f1, l, b, stray_b); });
            ok_a = decode_level(*f, l, a, stray_a);
            other.join();
            ASSERT_TRUE(ok_a && ok_b) << "level " << l;
            EXPECT_TRUE(a == b) << "level " << l;
            EXPECT_EQ(stray_a, 0) << "level " << l;
            // A derived level is the wavelet's low-pass picture, sited on the even samples, not
            // the 2 x 2 means the reference halves by: the further from its stored level and the
            // finer the detail, the further apart (34-51 dB here); a misplaced or garbled tile
            // would be below 20.
            const int reduce = f->level(l).reduce;
            derived += reduce > 0;
            EXPECT_GE(psnr(a, ref), reduce == 0 ? 50.0 : 30.0) << "level " << l;
        }
        EXPECT_EQ(derived > 0, c.levels > 1);
        FILE* null = fopen("/dev/null", "w");
        EXPECT_TRUE(builder::verify_qvk(two, 2, null, error)) << error;
        fclose(null);
    }
    remove_tree(dir);
}

// A lower quality makes a smaller file and a lower PSNR: the quality reaches the coder; and every
// quality keeps the PSNR it promises (24 + 12 (Q/100)^2 dB), on a picture with grain too.
TEST(QvkHtj2k, QualityTradesBytesForDetail) {
    const std::string dir = make_temp_dir("qvk-htj2k-q");
    Rgb src = smooth(700, 500);
    uint32_t seed = 12345;
    for (uint8_t& v : src.px) {
        seed = seed * 1664525u + 1013904223u;
        v = uint8_t(std::clamp(int(v) + int(seed >> 28) - 8, 0, 255));
    }
    double last_psnr = 100;
    uintmax_t last_bytes = ~uintmax_t(0);
    for (int q : {100, 95, 60, 20, 0}) {
        const std::string path = dir + "/q" + std::to_string(q) + ".qvk";
        build(path, src, 512, q, 2);
        std::string error;
        auto f = QvkFile::open(path, error);
        ASSERT_TRUE(f) << error;
        std::vector<uint8_t> px;
        int stray = 0;
        ASSERT_TRUE(decode_level(*f, f->levels(), px, stray));
        const double p = psnr(px, src);
        const uintmax_t bytes = std::filesystem::file_size(path);
        EXPECT_LT(p, last_psnr) << "quality " << q;
        EXPECT_GE(p, builder::Quality{q}.promised_psnr()) << "quality " << q;
        EXPECT_LT(bytes, last_bytes) << "quality " << q;
        last_psnr = p;
        last_bytes = bytes;
    }
    remove_tree(dir);
}

namespace {

// Offset of the first marker `code` (0xFF, code) at or after `from`; the codestream's size if none.
size_t marker(const Bytes& b, uint8_t code, size_t from) {
    for (size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xff && b[i + 1] == code) return i;
    return b.size();
}

}  // namespace

// A coder-2 tile whose bytes still match their checksum (the index entry and page resealed) but
// not the codestream's rules is refused by the decoder; its render tiles come from the nearest
// coarser level that does not derive from it, with one warning, and its neighbours read as they
// are. Flips inside the code blocks'
// data are not listed: the entropy coder has no redundancy to catch them, only the checksum does.
TEST(QvkHtj2k, DamagedCodestreamsAreRefusedAndDrawnFromTheCoarserLevel) {
    const std::string dir = make_temp_dir("qvk-htj2k-damage");
    const std::string clean = dir + "/clean.qvk", path = dir + "/p.qvk";
    // 2500 x 1300 in 256-pixel tiles: five levels, the finest 10 x 6 stored tiles; levels 4 and 3
    // derive from level 5, so a damaged tile of level 5 is drawn from level 2.
    build(clean, smooth(2500, 1300), 256, 80, 2);
    const Bytes valid = read_file(clean);
    std::string error;
    auto file = QvkFile::open(clean, error);
    ASSERT_TRUE(file) << error;
    const QvkPageRef page = qvk_page_of(file->level(5), 2, 1);
    const QvkTileEntry e = qvk_page_entry(valid.data() + page.offset, page.slot);
    const Bytes tile(valid.begin() + long(e.offset), valid.begin() + long(e.offset + e.length));
    const size_t sot = marker(tile, 0x90, 2);
    ASSERT_LT(sot + 10, tile.size());

    struct Case {
        const char* what;
        size_t flip;      // byte flipped; tile.size() for none
        uint32_t length;  // the entry's new length
    };
    const Case cases[] = {
        {"start of codestream", 1, e.length},
        {"width in the size segment", 11, e.length},
        {"height in the size segment", 15, e.length},
        {"tile-part length", sot + 9, e.length},
        {"end of codestream", tile.size() - 1, e.length},
        {"last byte cut", tile.size(), e.length - 1},
        {"half cut", tile.size(), e.length / 2},
    };
    auto good = QvkPicture::open(clean, error);
    ASSERT_TRUE(good) << error;
    // Unsmoothed borders (the smoothing has its own test): a neighbour then reads exactly as it
    // would beside a sound tile.
    good->set_border_filter(BorderFilter{});
    // The damaged stored tile's 4 x 4 render tiles are to show level 2's pixels, 8 x 8 each.
    ASSERT_EQ(good->level(4).reduce, 1);
    ASSERT_EQ(good->level(3).reduce, 2);
    ASSERT_EQ(good->level(2).reduce, 0);
    std::vector<uint8_t> coarse;
    int stray = 0;
    ASSERT_TRUE(decode_level(good->file(), 2, coarse, stray));
    const uint32_t cw = good->level(2).width;
    TileScratchBuffers buffers, good_buffers;
    TileScratch& s = buffers.scratch();
    TileScratch& gs = good_buffers.scratch();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes b = valid;
        if (c.flip < tile.size()) b[e.offset + c.flip] ^= 0x21;
        QvkTileEntry d = e;
        d.length = c.length;
        d.crc = uint32_t(crc32(0, b.data() + e.offset, uInt(d.length)));
        qvk_put_page_entry(b.data() + page.offset, page.slot, d);
        qvk_seal_page(page, b.data() + page.offset);
        write_file(path, b);

        auto p = QvkPicture::open(path, error);
        ASSERT_TRUE(p) << error;
        p->set_border_filter(BorderFilter{});
        const std::string log = dir + "/warnings.txt";
        FILE* warnings = fopen(log.c_str(), "w");
        p->set_warning_stream(warnings);
        int wrong = 0;
        for (uint32_t ty = 4; ty < 8; ++ty)
            for (uint32_t tx = 8; tx < 12; ++tx) {
                p->make_tile(QvkPicture::job(p->level(5), 5, int(tx), int(ty), true), s);
                for (uint32_t y = 0; y < 64; ++y)
                    for (uint32_t x = 0; x < 64; ++x) {
                        const uint32_t X = (tx * 64 + x) / 8, Y = (ty * 64 + y) / 8;
                        wrong += memcmp(s.final_tile + y * kTileRowBytes + x * 4,
                                        &coarse[(size_t(Y) * cw + X) * 4], 3) != 0;
                    }
            }
        EXPECT_EQ(wrong, 0);
        // Its neighbours on every side are drawn from their own tiles.
        int changed = 0;
        for (const auto& n : {std::make_pair(7, 5), std::make_pair(12, 5), std::make_pair(9, 3),
                              std::make_pair(9, 8)}) {
            p->make_tile(QvkPicture::job(p->level(5), 5, n.first, n.second, true), s);
            good->make_tile(QvkPicture::job(good->level(5), 5, n.first, n.second, true), gs);
            changed += memcmp(s.final_tile, gs.final_tile, size_t(64) * kTileRowBytes) != 0;
        }
        EXPECT_EQ(changed, 0);
        fclose(warnings);
        EXPECT_EQ(p->warnings(), 1u);
        const Bytes text = read_file(log);
        EXPECT_EQ(std::string(text.begin(), text.end()),
                  "warning: " + path + ": tile 5/2,1: tile data damaged; drawn from level 2\n");
        FILE* null = fopen("/dev/null", "w");
        EXPECT_FALSE(builder::verify_qvk(path, 2, null, error));
        fclose(null);
    }
    EXPECT_EQ(good->warnings(), 0u);

    // A sound codestream under another tile size than its own is refused too.
    std::vector<uint8_t> out(256 * 256 * 4);
    for (const auto& wh : {std::make_pair(255, 256), std::make_pair(256, 255),
                           std::make_pair(128, 256), std::make_pair(256, 256)}) {
        const bool ok = decode_qvk_tile(2, tile.data(), tile.size(), 256, wh.first, wh.second,
                                        out.data(), 256 * 4);
        EXPECT_EQ(ok, wh.first == 256 && wh.second == 256) << wh.first << "x" << wh.second;
    }
    EXPECT_FALSE(decode_qvk_tile(1, tile.data(), tile.size(), 256, 256, 256, out.data(), 1024));
    remove_tree(dir);
}

// The renderer smooths the stored tiles' borders: every render tile, made on its own, holds what
// smoothing the whole level at once gives, at the finest level and at derived ones (corners, the
// picture's edges and partial tiles included), and the smoothing changes only pixels within two of
// a border.
TEST(QvkHtj2k, RenderTilesHoldTheWholeLevelWithItsTileBordersSmoothed) {
    const std::string dir = make_temp_dir("qvk-htj2k-borders");
    const std::string path = dir + "/p.qvk";
    build(path, smooth(700, 333), 128, 20, 2);  // 6 x 3 stored tiles; level 3 derives from 4
    std::string error;
    auto pic = QvkPicture::open(path, error);
    ASSERT_TRUE(pic) << error;
    ASSERT_TRUE(pic->border_filter().on());
    TileScratchBuffers buffers;
    TileScratch& s = buffers.scratch();
    for (int l : {4, 3}) {
        SCOPED_TRACE("level " + std::to_string(l));
        const QvkLevel& v = pic->level(l);
        const uint32_t S = uint32_t(pic->stored_side(l));
        std::vector<uint8_t> plain, expect;
        int stray = 0;
        ASSERT_TRUE(decode_level(pic->file(), l, plain, stray));
        expect = plain;
        std::vector<int> cols, rows;
        for (uint32_t b = S; b + 2 <= v.width; b += S) cols.push_back(int(b));
        for (uint32_t b = S; b + 2 <= v.height; b += S) rows.push_back(int(b));
        ASSERT_FALSE(cols.empty() || rows.empty());
        filter_tile_borders(pic->border_filter(), expect.data(), size_t(v.width) * 4, int(v.width),
                            int(v.height), cols.data(), int(cols.size()), rows.data(),
                            int(rows.size()));
        int wrong = 0, moved = 0, moved_far = 0;
        for (uint32_t ty = 0; ty < pic->render_tiles_y(l); ++ty)
            for (uint32_t tx = 0; tx < pic->render_tiles_x(l); ++tx) {
                pic->make_tile(QvkPicture::job(v, l, int(tx), int(ty), true), s);
                for (uint32_t y = ty * 64; y < std::min(v.height, ty * 64 + 64); ++y)
                    for (uint32_t x = tx * 64; x < std::min(v.width, tx * 64 + 64); ++x) {
                        const size_t i = (size_t(y) * v.width + x) * 4;
                        const uint8_t* got =
                            s.final_tile + (y - ty * 64) * kTileRowBytes + (x - tx * 64) * 4;
                        wrong += memcmp(got, &expect[i], 3) != 0;
                        if (memcmp(&plain[i], &expect[i], 3) == 0) continue;
                        ++moved;
                        const uint32_t dx = std::min(x % S, S - 1 - x % S);
                        const uint32_t dy = std::min(y % S, S - 1 - y % S);
                        moved_far += dx >= 2 && dy >= 2;
                    }
            }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(moved, 0);
        EXPECT_EQ(moved_far, 0);
    }
    remove_tree(dir);
}

// The tool's --coder and --tile-size: htj2k, the default, says so and defaults to 512-pixel
// tiles and quality 43; deflate to 64 and 60; the file verifies. An unknown coder or tile size,
// or either for a folder data set, is a usage error and writes nothing.
TEST(QvkTool, BuildsEitherCoderInAnyTileSize) {
    const std::string dir = make_temp_dir("qvk-tool-coder");
    const std::string tool = QUORVIK_TOOL_PATH, quiet = " >/dev/null 2>&1";
    const struct {
        std::string args;
        uint32_t coder;  // 0: refused
        int tile;
        uint32_t quality;
    } cases[] = {
        {"--out " + dir + "/a.qvk --coder htj2k", 2, 512, 43},
        {"--out " + dir + "/b.qvk --coder htj2k --tile-size 256 --quality 85", 2, 256, 85},
        {"--out " + dir + "/c.qvk --coder deflate", 1, 64, 60},
        {"--out " + dir + "/f.qvk --quality 60", 2, 512, 60},
        {"--out " + dir + "/d.qvk --quality 30", 2, 512, 30},
        {"--out " + dir + "/g.qvk --tile-size 1024", 2, 1024, 43},
        {"--out " + dir + "/h.qvk --tile-size 64", 2, 64, 43},
        {"--out " + dir + "/i.qvk --coder deflate --tile-size 512", 1, 512, 60},
        {"--out " + dir + "/e.qvk --coder jpeg", 0, 0, 0},
        {"--out " + dir + "/folder --coder htj2k", 0, 0, 0},
        {"--out " + dir + "/j.qvk --tile-size 96", 0, 0, 0},
        {"--out " + dir + "/k.qvk --tile-size 2048", 0, 0, 0},
        {"--out " + dir + "/l.qvk --tile-size 32", 0, 0, 0},
        {"--out " + dir + "/folder2 --tile-size 256", 0, 0, 0},
    };
    for (const auto& c : cases) {
        const std::string out = c.args.substr(6, c.args.find(' ', 6) - 6);
        const int st =
            std::system((tool + " build --size 700x300 --threads 2 " + c.args + quiet).c_str());
        if (c.coder == 0) {
            EXPECT_NE(st, 0) << c.args;
            EXPECT_FALSE(std::filesystem::exists(out)) << c.args;
            continue;
        }
        ASSERT_EQ(st, 0) << c.args;
        std::string error;
        auto file = QvkFile::open(out, error);
        ASSERT_TRUE(file) << error;
        EXPECT_EQ(file->header().coder, c.coder) << c.args;
        EXPECT_EQ(file->header().tile_size, c.tile) << c.args;
        EXPECT_EQ(file->header().coder_param, c.quality) << c.args;
        EXPECT_EQ(std::system((tool + " verify " + out + quiet).c_str()), 0) << c.args;
    }
    remove_tree(dir);
}
