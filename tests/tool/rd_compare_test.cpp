// The rate-distortion harness's measure (bench/rd_compare.h): PSNR of known errors, the tile
// grid's measure seeing a step where it is placed, the same numbers as the folder form's own
// measure at 64 pixels, and a one-file picture's finest level read back from its tiles.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/rd_compare.h"
#include "builder/planes.h"
#include "builder/qvk_build.h"
#include "builder/seam.h"

namespace {

// Channel c of pixel (x, y).
using PixelFn = std::function<int(int x, int y, int c)>;

class Picture : public builder::RowSource {
  public:
    Picture(int w, int h, const PixelFn& f) : w_(w), h_(h), px_(size_t(w) * size_t(h) * 3) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    px_[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(c)] = uint8_t(f(x, y, c));
    }
    uint32_t width() const override { return uint32_t(w_); }
    uint32_t height() const override { return uint32_t(h_); }
    std::string describe() const override { return "test picture"; }
    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        // The measure must ask for each row once, top to bottom, as a file decoder needs.
        EXPECT_EQ(y0, next_);
        next_ = y0 + n;
        for (uint32_t i = 0; i < n; ++i)
            memcpy(rgb + i * stride, &px_[size_t(y0 + i) * size_t(w_) * 3], size_t(w_) * 3);
    }
    int at(int x, int y, int c) const {
        return px_[(size_t(y) * size_t(w_) + size_t(x)) * 3 + size_t(c)];
    }

  private:
    int w_, h_;
    std::vector<uint8_t> px_;
    uint32_t next_ = 0;
};

int smooth(int x, int y, int c) {
    return 90 + c * 20 + (x + y) / 16;
}

TEST(RdCompare, KnownErrorsGiveKnownPsnrAndSteps) {
    struct Case {
        const char* name;
        int w, h, tile;
        PixelFn source, decoded;
        double psnr, border, middle;
        int skip_grid = 0;
    };
    const double inf = std::numeric_limits<double>::infinity();
    // 40 x 20 on 8-pixel tiles: column borders at 8, 16, 24, 32 (20 rows) and the row border at
    // 8 and 16 (40 columns): 4 * 20 * 3 + 2 * 40 * 3 = 480 border pairs; middles at columns 4, 12,
    // 20, 28, 36 and rows 4, 12: 5 * 20 * 3 + 2 * 40 * 3 = 540 pairs.
    const std::vector<Case> cases = {
        {"identical", 40, 20, 8, smooth, smooth, inf, 0, 0},
        {"constant error 1", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) + 1; }, 20 * std::log10(255.0), 0, 0},
        {"constant error 5, one channel", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) + (c == 1 ? 5 : 0); },
         10 * std::log10(255.0 * 255.0 * 3 / 25), 0, 0},
        // Error 6 from column 16 on: one border of 480 pairs' worth, 20 rows x 3 channels.
        {"step at a border", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) + (x >= 16 ? 6 : 0); },
         10 * std::log10(255.0 * 255.0 * 40 / (24 * 36.0)), 6.0 * 60 / 480, 0},
        {"step at a middle", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) + (x >= 20 ? 6 : 0); },
         10 * std::log10(255.0 * 255.0 * 40 / (20 * 36.0)), 0, 6.0 * 60 / 540},
        // A row border of the bottom band: the window carried over from the band above.
        {"step at a row border", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) - (y >= 16 ? 6 : 0); },
         10 * std::log10(255.0 * 255.0 * 20 / (4 * 36.0)), 6.0 * 120 / 480, 0},
        // On the picture's own grid (every 16 pixels), the border at 16 is left out: 4 - 1
        // column borders and 2 - 1 row borders remain, 3 * 20 * 3 + 40 * 3 = 300 pairs.
        {"step on the picture's own grid", 40, 20, 8, smooth,
         [](int x, int y, int c) { return smooth(x, y, c) + (x >= 16 ? 6 : 0); },
         10 * std::log10(255.0 * 255.0 * 40 / (24 * 36.0)), 0, 0, 16},
        // A source that jumps by 5 every pixel is nowhere smooth: the step is not counted.
        {"step in a busy area", 40, 20, 8, [](int x, int, int) { return 100 + 5 * (x % 2); },
         [](int x, int, int) { return 100 + 5 * (x % 2) + (x >= 16 ? 6 : 0); },
         10 * std::log10(255.0 * 255.0 * 40 / (24 * 36.0)), 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Picture s(k.w, k.h, k.source), d(k.w, k.h, k.decoded);
        const rd::Comparison c = rd::compare(s, d, k.tile, k.skip_grid);
        EXPECT_EQ(c.samples, uint64_t(k.w) * uint64_t(k.h) * 3);
        if (std::isinf(k.psnr))
            EXPECT_TRUE(std::isinf(c.psnr_db()));
        else
            EXPECT_NEAR(c.psnr_db(), k.psnr, 1e-9);
        EXPECT_NEAR(c.seams.border(), k.border, 1e-12);
        EXPECT_NEAR(c.seams.middle(), k.middle, 1e-12);
    }
}

TEST(RdCompare, MatchesTheFolderFormsMeasureAt64Pixels) {
    // Three tile rows, so that two band boundaries carry rows over; a source smooth in places
    // and busy in others, an error with per-tile offsets (steps at borders) and noise.
    constexpr int kTiles = 3, kSide = 64 * kTiles;
    std::mt19937 rng(7);
    std::vector<int> bump(size_t(kSide) * kSide), err(size_t(kSide) * kSide * 3);
    for (int& b : bump) b = rng() % 9 == 0 ? 12 : int(rng() % 2);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c)
                err[(size_t(y) * kSide + size_t(x)) * 3 + size_t(c)] =
                    int(rng() % 5) - 2 + ((x / 64 + 2 * (y / 64) + c) % 3) * 3;
    auto src = [&](int x, int y, int c) {
        return 60 + c * 30 + (x + 2 * y) / 24 + bump[size_t(y) * kSide + size_t(x)];
    };
    Picture s(kSide, kSide, src);
    Picture d(kSide, kSide, [&](int x, int y, int c) {
        return src(x, y, c) + err[(size_t(y) * kSide + size_t(x)) * 3 + size_t(c)];
    });

    builder::Planes planes(kSide, kSide, 0);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            for (int c = 0; c < 3; ++c) *planes.at(c, x, y) = uint8_t(s.at(x, y, c));
    builder::SeamStats want;
    std::vector<builder::TileEdges> edges(kTiles * kTiles);
    static int16_t e[3][64][64];
    for (int ty = 0; ty < kTiles; ++ty)
        for (int tx = 0; tx < kTiles; ++tx) {
            for (int c = 0; c < 3; ++c)
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x)
                        e[c][y][x] = int16_t(d.at(tx * 64 + x, ty * 64 + y, c) -
                                             s.at(tx * 64 + x, ty * 64 + y, c));
            builder::tile_edges(planes, tx * 64, ty * 64, e, edges[size_t(ty * kTiles + tx)], want);
        }
    builder::border_steps(planes, kTiles, edges.data(), want);

    const rd::Comparison got = rd::compare(s, d, 64);
    ASSERT_GT(want.border_pairs, 0);
    ASSERT_GT(want.middle_pairs, 0);
    // Some steps are busy: fewer pairs than every border and middle step has.
    EXPECT_LT(want.border_pairs + want.middle_pairs,
              int64_t(2 * (kTiles - 1) + 2 * kTiles) * kSide * 3);
    EXPECT_EQ(got.seams.border_pairs, want.border_pairs);
    EXPECT_EQ(got.seams.middle_pairs, want.middle_pairs);
    EXPECT_DOUBLE_EQ(got.seams.border_sum, want.border_sum);
    EXPECT_DOUBLE_EQ(got.seams.middle_sum, want.middle_sum);
}

TEST(RdCompare, RefusesDifferentSizesAndOddTiles) {
    Picture a(40, 20, smooth), b(40, 21, smooth), c(40, 20, smooth);
    EXPECT_THROW(rd::compare(a, b, 8), std::invalid_argument);
    EXPECT_THROW(rd::compare(a, c, 7), std::invalid_argument);
    EXPECT_THROW(rd::compare(a, c, 2), std::invalid_argument);
}

TEST(RdCompare, ReadsAOneFilePicturesFinestLevelFromItsTiles) {
    // 300 x 200 in 128-pixel tiles: cut tiles on the right and at the bottom. Lossless tiles, so
    // any pixel put in the wrong place shows as a finite PSNR.
    auto f = [](int x, int y, int c) { return (x * 7 + y * 13 + c * 101 + x * y) & 255; };
    Picture src(300, 200, f);
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("rd_compare_test_" + std::to_string(getpid()) + ".qvk"))
                                 .string();
    builder::QvkBuildOptions opt;
    opt.out = path;
    opt.threads = 1;
    opt.progress = false;
    opt.tile_size = 128;
    builder::build_qvk(src, opt);
    int tile = 0;
    auto rows = rd::open_qvk_rows(path, &tile);
    Picture again(300, 200, f);
    const rd::Comparison c = rd::compare(again, *rows, tile);
    std::filesystem::remove(path);
    EXPECT_EQ(tile, 128);
    EXPECT_TRUE(std::isinf(c.psnr_db()));
    EXPECT_THROW(rd::open_qvk_rows(path, nullptr), std::runtime_error);
}

}  // namespace
