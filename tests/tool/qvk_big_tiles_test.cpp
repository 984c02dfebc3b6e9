// Stored tiles larger than the renderer's through the builder, the file and the renderer: every
// render tile of every level against a plain reference pyramid, and a damaged stored tile drawn
// from the coarser level that holds its area.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "builder/qvk_build.h"
#include "builder/qvk_verify.h"
#include "render/qvk_picture.h"
#include "render/tile_scratch.h"
#include "store/qvk_file.h"
#include "tests/support/fixture.h"
#include "tests/support/rgb_picture.h"

namespace {

Rgb noise(uint32_t w, uint32_t h) {
    Rgb p{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
    uint32_t s = w * 31u + h;
    for (auto& b : p.px) {
        s = s * 1664525u + 1013904223u;
        b = uint8_t(s >> 24);
    }
    return p;
}

// Builds `path` from `src` in tile x tile stored tiles; the reference pyramid, coarsest first.
std::vector<Rgb> build(const std::string& path, const Rgb& src, int tile) {
    Rows rows(src);
    builder::QvkBuildOptions opt;
    opt.out = path;
    opt.threads = 2;
    opt.progress = false;
    opt.tile_size = tile;
    builder::build_qvk(rows, opt);
    std::vector<Rgb> ref{src};
    while (qvk_level_count(ref.front().w, ref.front().h, tile) > 1)
        ref.insert(ref.begin(), halve(ref.front()));
    return ref;
}

// Render tile (tx, ty) of level l of `p` against `ref` (that level's reference picture, read at
// (X >> d, Y >> d) for a tile drawn d levels coarser): the count of wrong pixels, those beyond
// the level's edge having to be black.
int wrong_pixels(const QvkPicture& p, int l, uint32_t tx, uint32_t ty, const Rgb& ref, int d,
                 TileScratch& s) {
    p.make_tile(QvkPicture::job(p.level(l), l, int(tx), int(ty), true), s);
    int wrong = 0;
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const uint32_t X = tx * 64 + x, Y = ty * 64 + y;
            const uint8_t* got = s.final_tile + y * kTileRowBytes + x * 4;
            const bool inside = X < p.level(l).width && Y < p.level(l).height;
            const uint8_t black[3] = {0, 0, 0};
            const uint8_t* want = inside ? ref.at(X >> d, Y >> d) : black;
            wrong += memcmp(got, want, 3) != 0;
        }
    return wrong;
}

}  // namespace

// Large stored tiles through the builder, the file and the renderer: every 64-pixel render tile
// of every level is the source or its box halving, black beyond the level's edge, and each stored
// tile is decoded once while its render tiles are drawn in order.
TEST(QvkBuild, LargeStoredTilesRenderEveryLevelExactly) {
    const std::string dir = make_temp_dir("qvk-big-tiles");
    const struct {
        int tile;
        uint32_t w, h;
        int levels;
        uint32_t render_x, render_y;  // the finest level's render tile grid
    } cases[] = {{128, 1000, 3, 4, 16, 1},
                 {1024, 1000, 3, 1, 16, 1},
                 {1024, 2500, 1300, 3, 40, 21},
                 {256, 2500, 1300, 5, 40, 21}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tile) + ": " + std::to_string(c.w) + "x" +
                     std::to_string(c.h));
        const std::string path = dir + "/p.qvk";
        const std::vector<Rgb> ref = build(path, noise(c.w, c.h), c.tile);
        ASSERT_EQ(ref.size(), size_t(c.levels));

        std::string error;
        auto p = QvkPicture::open(path, error);
        ASSERT_TRUE(p) << error;
        ASSERT_EQ(p->tile_size(), c.tile);
        ASSERT_EQ(p->levels(), c.levels);
        EXPECT_EQ(p->render_tiles_x(c.levels), c.render_x);
        EXPECT_EQ(p->render_tiles_y(c.levels), c.render_y);
        TileScratchBuffers buffers;
        uint64_t stored = 0;
        for (int l = 1; l <= c.levels; ++l) {
            const QvkLevel& v = p->level(l);
            stored += uint64_t(v.tiles_x) * v.tiles_y;
            int wrong = 0;
            for (uint32_t ty = 0; ty < p->render_tiles_y(l); ++ty)
                for (uint32_t tx = 0; tx < p->render_tiles_x(l); ++tx)
                    wrong += wrong_pixels(*p, l, tx, ty, ref[size_t(l - 1)], 0, buffers.scratch());
            EXPECT_EQ(wrong, 0) << "level " << l;
        }
        EXPECT_EQ(p->stored_cache().loads(), stored);
        EXPECT_LE(p->stored_cache().bytes(), QvkPicture::kStoredCacheBytes);
        EXPECT_EQ(p->warnings(), 0u);
        FILE* null = fopen("/dev/null", "w");
        EXPECT_TRUE(builder::verify_qvk(path, 2, null, error)) << error;
        fclose(null);
    }
    remove_tree(dir);
}

// A damaged stored tile's render tiles come from the nearest coarser level that reads, through
// the coarser stored tile holding their area, and the warning names the stored tile once.
TEST(QvkBuild, DamagedLargeStoredTilesAreDrawnFromTheNearestLevelThatReads) {
    const std::string dir = make_temp_dir("qvk-big-damage");
    const std::string path = dir + "/p.qvk";
    // 2500 x 1300 in 256-pixel tiles: five levels, the finest 10 x 6 stored tiles.
    const std::vector<Rgb> ref = build(path, noise(2500, 1300), 256);
    ASSERT_EQ(ref.size(), 5u);
    const struct {
        int l;
        uint32_t tx, ty;
    } damaged[] = {{5, 2, 1},             // level 4's (1, 0) reads
                   {5, 0, 0}, {4, 0, 0},  // level 3's (0, 0) reads
                   {5, 9, 5}, {4, 4, 2}, {3, 2, 1}, {2, 1, 0}, {1, 0, 0}};  // nothing reads
    {
        std::string error;
        auto file = QvkFile::open(path, error);
        ASSERT_TRUE(file) << error;
        const Bytes all = read_file(path);
        for (const auto& d : damaged) {
            const QvkPageRef ref_page = qvk_page_of(file->level(d.l), d.tx, d.ty);
            const QvkTileEntry e = qvk_page_entry(all.data() + ref_page.offset, ref_page.slot);
            patch_file(path, int64_t(e.offset), {0xff, 0xff});
        }
    }
    std::string error;
    auto p = QvkPicture::open(path, error);
    ASSERT_TRUE(p) << error;
    const std::string log = dir + "/warnings.txt";
    FILE* warnings = fopen(log.c_str(), "w");
    p->set_warning_stream(warnings);
    TileScratchBuffers buffers;
    TileScratch& s = buffers.scratch();
    const struct {
        uint32_t sx, sy;  // the finest level's stored tile
        int d;            // levels coarser it is drawn from; 0: black
    } drawn[] = {{2, 1, 1}, {0, 0, 2}, {9, 5, 0}};
    for (const auto& c : drawn) {
        int wrong = 0, lit = 0;
        for (uint32_t ty = c.sy * 4; ty < std::min(c.sy * 4 + 4, p->render_tiles_y(5)); ++ty)
            for (uint32_t tx = c.sx * 4; tx < std::min(c.sx * 4 + 4, p->render_tiles_x(5)); ++tx) {
                if (c.d > 0) {
                    wrong += wrong_pixels(*p, 5, tx, ty, ref[size_t(4 - c.d)], c.d, s);
                    continue;
                }
                p->make_tile(QvkPicture::job(p->level(5), 5, int(tx), int(ty), true), s);
                for (int i = 0; i < 64 * kTileRowBytes; i += 4)
                    lit += s.final_tile[i] | s.final_tile[i + 1] | s.final_tile[i + 2];
            }
        EXPECT_EQ(wrong, 0) << c.sx << "," << c.sy;
        EXPECT_EQ(lit, 0) << c.sx << "," << c.sy;
    }
    // A tile beside the damaged ones reads as it is.
    EXPECT_EQ(wrong_pixels(*p, 5, 12, 4, ref[4], 0, s), 0);
    fclose(warnings);
    EXPECT_EQ(p->warnings(), 3u);
    const Bytes text = read_file(log);
    const std::string w = "warning: " + path + ": tile ";
    EXPECT_EQ(std::string(text.begin(), text.end()),
              w + "5/2,1: tile checksum mismatch; drawn from level 4\n" + w +
                  "5/0,0: tile checksum mismatch; drawn from level 3\n" + w +
                  "5/9,5: tile checksum mismatch; drawn black\n");
    remove_tree(dir);
}
