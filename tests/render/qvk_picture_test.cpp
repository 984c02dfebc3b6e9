// A one-file picture in the renderer: the level a height chooses, frames that put every pixel of
// the picture where it belongs (edges, partial tiles, outside the picture) identically for any
// number of threads and with or without the cache, damaged tiles drawn from coarser levels, and
// the minimap's shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/settings.h"
#include "render/kernels.h"
#include "render/engine.h"
#include "render/picture.h"
#include "render/qvk_picture.h"
#include "render/raster.h"
#include "render/tile_scratch.h"
#include "render/view.h"
#include "store/data_set.h"
#include "app/load.h"
#include "tests/render/render_test_util.h"
#include "tests/support/fixture.h"

namespace {

constexpr uint32_t kW = 5000, kH = 3000;  // 8 levels; partial tiles on the right and bottom

class PictureTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        console_out = fopen("/dev/null", "w");
        dir_ = make_temp_dir("quorvik_picture");
        path_ = dir_ + "/p.qvk";
        write_fixture_picture(path_, kW, kH);
        place_camera(0, 1000, 0);
        std::string error;
        viewer_file = QvkPicture::open(path_, error);
        ASSERT_TRUE(viewer_file) << error;
        viewer_file->set_warning_stream(console_out);
        set_frame(512, 512);
        ASSERT_TRUE(install_viewer_file(console_out));
        prepare_render_buffers();
    }
    static void TearDownTestSuite() {
        render_engine().release();
        viewer_file.reset();
        remove_tree(dir_);
    }
    // The finest level, nearest sampling, no overlays: frames hold picture pixels only.
    static void plain_frames() {
        viewer_settings = ViewerSettings{};
        viewer_settings.bilinIpol = 0;
        viewer_settings.hiqu = 1;
        viewer_settings.showMinimap = 0;
        viewer_settings.drawCrosshair = 0;
    }
    static std::string dir_, path_;
};
std::string PictureTest::dir_, PictureTest::path_;

TEST_F(PictureTest, HeightsChooseLevelsCountedFromTheFinest) {
    const QvkPicture& p = *viewer_file;
    ASSERT_EQ(p.levels(), 8);
    const struct {
        float height;
        bool hiqu;
        int level;
    } cases[] = {{100, false, 8},  {625, false, 8},   {625.5f, false, 7}, {1250, false, 7},
                 {1251, false, 6}, {5000, false, 5},  {5001, false, 4},   {1e9f, false, 1},
                 {1e9f, true, 8},  {40001, false, 1}, {40000, false, 2}};
    for (const auto& c : cases)
        EXPECT_EQ(p.choose_level(c.height, c.hiqu), c.level) << c.height << " " << c.hiqu;
    EXPECT_EQ(p.scale(8), 2.0f);
    EXPECT_EQ(p.scale(1), 256.0f);
}

// With the finest level forced, nearest sampling and one screen pixel per picture pixel, every
// frame pixel is a picture pixel from under it, or black outside the picture.
TEST_F(PictureTest, FramesPutEveryPixelInPlaceForAnyThreadsAndCache) {
    plain_frames();
    const struct {
        const char* what;
        double x, y;  // picture pixel at the frame's top-left corner
    } views[] = {{"top-left corner, outside above and left", -100, -37},
                 {"inside, across tile borders", 1000, 700},
                 {"bottom-right corner, partial tiles", 4800, 2850}};
    for (const auto& v : views) {
        SCOPED_TRACE(v.what);
        std::vector<uint32_t> first;
        for (const auto& engine : {std::make_pair(1, 0), std::make_pair(2, 256)}) {
            render_engine().configure(engine.first, size_t(engine.second) << 20);
            apply_view(StartView{true, v.x + 256, v.y + 256, 1.0});
            build_view_matrix();
            render_view();
            const std::vector<uint32_t> frame = frame_copy();
            if (first.empty()) {
                first = frame;
                // The rasteriser stretches each tile by half a pixel so that neighbours overlap by
                // up to a column and never leave a gap, and its sampling steps lag by up to two
                // pixels across a tile: a frame pixel shows a picture pixel at most two before or
                // one after the one under it, in each direction. A tile in the wrong place or a
                // wrong edge is off by more.
                const auto at = [](double X, double Y) {
                    return X < 0 || Y < 0 || X >= kW || Y >= kH
                               ? 0u
                               : fixture_picture_rgb(uint32_t(X), uint32_t(Y));
                };
                int wrong = 0;
                for (int j = 0; j < 512; ++j)
                    for (int i = 0; i < 512; ++i) {
                        const double X = v.x + i, Y = v.y + j;
                        const uint32_t got = frame[size_t(j) * 512 + i];
                        bool near = false;
                        for (int dy = -2; dy <= 1; ++dy)
                            for (int dx = -2; dx <= 1; ++dx)
                                near = near || got == at(X + dx, Y + dy);
                        wrong += !near;
                    }
                EXPECT_EQ(wrong, 0);
            } else {
                EXPECT_TRUE(frame == first) << "threads " << engine.first;
            }
        }
    }
    viewer_settings = ViewerSettings{};
}

// Reads tile (tx, ty) of level l's entry, to damage its bytes.
QvkTileEntry entry_of(const std::string& path, int l, uint32_t tx, uint32_t ty) {
    std::string error;
    auto f = QvkFile::open(path, error);
    const QvkPageRef ref = qvk_page_of(f->level(l), tx, ty);
    const Bytes all = read_file(path);
    return qvk_page_entry(all.data() + ref.offset, ref.slot);
}

TEST_F(PictureTest, DamagedTilesAreDrawnFromTheNearestLevelThatReads) {
    const std::string path = dir_ + "/damaged.qvk";
    write_fixture_picture(path, kW, kH);
    // Finest tile (10, 7) and its parent (5, 3) are damaged; its grandparent (2, 1) reads.
    // Tile (40, 30) and every ancestor of it up to level 1 are damaged.
    const struct {
        int l;
        uint32_t tx, ty;
    } damaged[] = {{8, 10, 7}, {7, 5, 3}, {8, 40, 30}, {7, 20, 15}, {6, 10, 7},
                   {5, 5, 3},  {4, 2, 1}, {3, 1, 0},   {2, 0, 0},   {1, 0, 0}};
    for (const auto& d : damaged) {
        const QvkTileEntry e = entry_of(path, d.l, d.tx, d.ty);
        patch_file(path, int64_t(e.offset), {0xff, 0xff});
    }
    std::string error;
    auto p = QvkPicture::open(path, error);
    ASSERT_TRUE(p) << error;
    const std::string log = dir_ + "/warnings.txt";
    FILE* warnings = fopen(log.c_str(), "w");
    p->set_warning_stream(warnings);
    TileScratchBuffers buffers;
    TileScratch& s = buffers.scratch();
    const QvkLevel& finest = p->level(8);
    // (10, 7): a level-6 pixel stands for 4 x 4 finest pixels.
    for (int twice = 0; twice < 2; ++twice)
        p->make_tile(QvkPicture::job(finest, 8, 10, 7, true), s);
    int wrong = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint32_t X = ((10 * 64 + x) >> 2) << 2, Y = ((7 * 64 + y) >> 2) << 2;
            const uint8_t* px = s.final_tile + y * kTileRowBytes + x * 4;
            wrong +=
                (uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | px[2]) != fixture_picture_rgb(X, Y);
        }
    EXPECT_EQ(wrong, 0);
    p->make_tile(QvkPicture::job(finest, 8, 40, 30, true), s);
    int lit = 0;
    for (int i = 0; i < 64 * kTileRowBytes; i += 4)
        lit += s.final_tile[i] | s.final_tile[i + 1] | s.final_tile[i + 2];
    EXPECT_EQ(lit, 0);
    fclose(warnings);
    EXPECT_EQ(p->warnings(), 2u);
    const Bytes text = read_file(log);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "warning: " + path +
                  ": tile 8/10,7: tile checksum mismatch; drawn from level 6\n"
                  "warning: " +
                  path + ": tile 8/40,30: tile checksum mismatch; drawn black\n");
}

TEST_F(PictureTest, TheMinimapKeepsThePicturesShape) {
    EXPECT_EQ(minimap_rect.w, 256);
    EXPECT_EQ(minimap_rect.h, 154);
    const struct {
        uint32_t w, h;
        int mw, mh;
    } cases[] = {{1000, 3, 256, 1}, {3, 1000, 1, 256}, {1, 1, 256, 256}, {300, 200, 256, 171}};
    for (const auto& c : cases) {
        const std::string path = dir_ + "/mini.qvk";
        std::remove(path.c_str());
        write_fixture_picture(path, c.w, c.h);
        std::string error;
        auto p = QvkPicture::open(path, error);
        ASSERT_TRUE(p) << error;
        RawImage m;
        ASSERT_TRUE(p->make_minimap(256, m));
        EXPECT_EQ(m.w, c.mw) << c.w << "x" << c.h;
        EXPECT_EQ(m.h, c.mh) << c.w << "x" << c.h;
        // A picture smaller than the minimap is drawn larger: its first pixel fills the corner.
        const uint32_t corner = fixture_picture_rgb(0, 0);
        EXPECT_EQ(reinterpret_cast<uint32_t*>(m.data)[0], corner);
        free_raw_image(m);
    }
}

// Three views (over an edge, inside, over the far corner) of the picture at `path`, drawn with
// `threads` workers and a tile cache of `cache_mb` MB.
std::vector<std::vector<uint32_t>> draw_views(const std::string& path, int threads, int cache_mb) {
    render_engine().release();
    std::string error;
    viewer_file = QvkPicture::open(path, error);
    EXPECT_TRUE(viewer_file) << error;
    std::vector<std::vector<uint32_t>> out;
    if (!viewer_file) return out;
    viewer_file->set_warning_stream(console_out);
    free_raw_image(viewer_data.minimap);
    EXPECT_TRUE(install_viewer_file(console_out));
    render_engine().configure(threads, size_t(cache_mb) << 20);
    for (const auto& v : {std::make_pair(-100.0, -37.0), std::make_pair(1000.0, 700.0),
                          std::make_pair(4800.0, 2850.0)}) {
        apply_view(StartView{true, v.first + 256, v.second + 256, 1.0});
        build_view_matrix();
        render_view();
        out.push_back(frame_copy());
    }
    EXPECT_EQ(viewer_file->warnings(), 0u);
    return out;
}

// The same picture stored in larger tiles draws the same frames: the view counts 64-pixel render
// tiles whatever the file stores, and each is cut from its stored tile in place, here with two
// threads asking the stored tile cache at once.
TEST_F(PictureTest, LargeStoredTilesDrawTheSameFrames) {
    plain_frames();
    auto frames = [&](const std::string& path) { return draw_views(path, 2, 0); };
    const auto want = frames(path_);
    for (int tile : {256, 1024}) {
        const std::string path = dir_ + "/tiles" + std::to_string(tile) + ".qvk";
        write_fixture_picture(path, kW, kH, tile);
        const auto got = frames(path);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            size_t lit = 0;
            for (uint32_t px : want[i]) lit += px != 0;
            EXPECT_GT(lit, want[i].size() / 16) << "view " << i;
            EXPECT_TRUE(got[i] == want[i]) << "tile " << tile << " view " << i;
        }
        EXPECT_EQ(viewer_file->tile_size(), tile);
    }
    frames(path_);  // the suite's picture again
    viewer_settings = ViewerSettings{};
}

// A picture of HTJ2K tiles draws the lossless picture's frames but for the coding's small
// errors, the same with one thread and no cache as with two threads and the cache.
TEST_F(PictureTest, Htj2kTilesDrawTheLosslessFramesClosely) {
    plain_frames();
    const std::string lossy = dir_ + "/htj2k.qvk";
    write_fixture_picture(lossy, kW, kH, 512, QvkCoder::htj2k, 90);
    const auto want = draw_views(path_, 2, 0);
    const auto one = draw_views(lossy, 1, 0), two = draw_views(lossy, 2, 256);
    EXPECT_EQ(viewer_file->tile_size(), 512);
    ASSERT_EQ(one.size(), want.size());
    ASSERT_EQ(two.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(one[i] == two[i]) << "view " << i;
        double se = 0;
        for (size_t k = 0; k < want[i].size(); ++k)
            for (int shift : {0, 8, 16}) {
                const double d = double((one[i][k] >> shift) & 255) - ((want[i][k] >> shift) & 255);
                se += d * d;
            }
        const double mse = se / (3.0 * double(want[i].size()));
        EXPECT_GT(10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9)), 50.0) << "view " << i;
    }
    draw_views(path_, 2, 0);  // the suite's picture again
    viewer_settings = ViewerSettings{};
}

}  // namespace
