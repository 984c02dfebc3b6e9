// Tile prediction by repeated four-point upsampling, and the residual on top of it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "app/settings.h"
#include "render/render_buffers.h"
#include "render/synth.h"
#include "store/data_set.h"
#include "tests/render/render_test_util.h"

namespace {

constexpr int kOut = kSynthSize * kSynthSize * 4;

struct Source {
    int w, h, bpp;
    std::vector<uint8_t> px;
    Source(int w_, int h_, int bpp_) : w(w_), h(h_), bpp(bpp_), px(size_t(w_) * h_ * bpp_, 0) {}
    uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * bpp]; }
    void set(int x, int y, int value) {
        for (int c = 0; c < 3; ++c) at(x, y)[c] = uint8_t(value);
    }
};

// Both forms of the step into separate targets; returns the fast one after checking that the
// two agree in the three colour bytes of every pixel.
std::vector<uint8_t> upsample_both(const Source& s, int ox, int oz) {
    std::vector<uint8_t> fast(kOut, 0xEE), plain(kOut, 0xEE);
    upsample_step(s.px.data(), s.w, s.h, s.w * s.bpp, s.bpp, ox, oz, fast.data());
    upsample_step_plain(s.px.data(), s.w, s.h, s.w * s.bpp, s.bpp, ox, oz, plain.data());
    for (int i = 0; i < kOut; ++i) {
        if (i % 4 == 3) continue;
        EXPECT_EQ(int(fast[i]), int(plain[i]))
            << "pixel (" << (i / 4) % kSynthSize << ", " << i / 4 / kSynthSize << ") channel "
            << i % 4 << " origin " << ox << "," << oz;
        if (fast[i] != plain[i]) break;
    }
    return fast;
}

int at(const std::vector<uint8_t>& t, int x, int y, int c = 0) {
    return t[(size_t(y) * kSynthSize + x) * 4 + c];
}

}  // namespace

TEST(UpsampleStep, ConstantColourStaysConstant) {
    for (int bpp : {3, 4}) {
        Source s(80, 80, bpp);
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                s.at(x, y)[0] = 17;
                s.at(x, y)[1] = 200;
                s.at(x, y)[2] = 255;
            }
        const auto t = upsample_both(s, 2, 34);
        for (int y = 0; y < kSynthSize; ++y)
            for (int x = 0; x < kSynthSize; ++x) {
                ASSERT_EQ(at(t, x, y, 0), 17);
                ASSERT_EQ(at(t, x, y, 1), 200);
                ASSERT_EQ(at(t, x, y, 2), 255);
            }
    }
}

TEST(UpsampleStep, FourTapSamplesAreClampedToBytes) {
    // Block columns N - 1..N + 2 (N = 10, origin 2: source columns 11..14) carry the pattern in
    // every row, so both the even and the odd target rows see the one-dimensional filter.
    const int patterns[3][4] = {{0, 255, 255, 0}, {255, 0, 0, 255}, {0, 0, 255, 255}};
    const int expected[3] = {255, 0, 127};  // 286, -32 and 127.5 before clamping / flooring
    for (int k = 0; k < 3; ++k) {
        Source s(72, 72, 4);
        for (int y = 0; y < 72; ++y)
            for (int i = 0; i < 4; ++i) s.set(11 + i, y, patterns[k][i]);
        const auto t = upsample_both(s, 2, 2);
        EXPECT_EQ(at(t, 21, 0), expected[k]) << "pattern " << k;
        EXPECT_EQ(at(t, 21, 1), expected[k]) << "pattern " << k;
        EXPECT_EQ(at(t, 20, 0), patterns[k][1]);
    }
}

TEST(UpsampleStep, OddOddSampleShiftsOnceOverSixteenTaps) {
    // Only the four corner taps of the 4 x 4 neighbourhood are set: (81 * 0 - 9 * 0 + 484) >> 8
    // = 1. Filtering rows and then columns with a shift after each pass would give 2.
    Source s(72, 72, 4);
    const int N = 10, M = 12, ox = 2, oz = 2;
    for (int j : {M - 1, M + 2})
        for (int i : {N - 1, N + 2}) s.set(ox + i, oz + j, 121);
    const auto t = upsample_both(s, ox, oz);
    EXPECT_EQ(at(t, 2 * N + 1, 2 * M + 1), 1);
}

TEST(UpsampleStep, ClampsAtTheBaseTextureEdge) {
    // A level-2 tile in tile column 0 starts two pixels left of the texture.
    Source s(64, 64, 3);
    for (int y = 0; y < 64; ++y) {
        s.set(0, y, 100);
        s.set(1, y, 200);
        for (int x = 2; x < 64; ++x) s.set(x, y, 50);
    }
    const auto t = upsample_both(s, -2, 30);
    for (int y : {0, 8, 70}) {
        EXPECT_EQ(at(t, 0, y), 100);
        EXPECT_EQ(at(t, 1, y), 100);
        EXPECT_EQ(at(t, 2, y), 100);
        EXPECT_EQ(at(t, 3, y), (17 * 100 - 200) >> 4);
        EXPECT_EQ(at(t, 4, y), 100);
    }
    // Bottom-right corner: origin 34 pixels before the end reaches 3 pixels past it.
    Source c(64, 64, 3);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) c.set(x, y, x == 63 || y == 63 ? 240 : 10);
    const auto e = upsample_both(c, 30, 30);
    EXPECT_EQ(at(e, 71, 71), 240);
    EXPECT_EQ(at(e, 71, 0), 240);
    EXPECT_EQ(at(e, 0, 0), 10);
}

TEST(UpsampleStep, FastFormMatchesThePlainOneOnRandomBlocks) {
    std::mt19937 rng(4242);
    for (int round = 0; round < 12; ++round) {
        const int bpp = round % 2 ? 4 : 3;
        const int side = bpp == 4 ? 72 : 96;
        Source s(side, side, bpp);
        for (auto& b : s.px) b = uint8_t(rng() & 255);
        if (round == 0)  // extremes, where intermediate sums are largest
            for (size_t i = 0; i < s.px.size(); ++i) s.px[i] = (i / bpp) % 3 ? 255 : 0;
        const int ox = bpp == 4 ? 2 + 32 * int(rng() % 2) : int(rng() % 80) - 20;
        const int oz = bpp == 4 ? 2 + 32 * int(rng() % 2) : int(rng() % 80) - 20;
        std::vector<uint8_t> fast = upsample_both(s, ox, oz);
        for (int i = 3; i < kOut; i += 4) ASSERT_EQ(fast[i], 0);
    }
}

TEST(SynthesiseTile, FollowsTheAncestorChain) {
    load_fixture_once();
    // Level-3 tile (5, 8): parities (1, 0), level-2 ancestor (2, 4), base origin (62, 126),
    // level-3 origin (34, 2) in synth_a, prediction in synth_b.
    const RawImage& base = base_tex[6];
    std::vector<uint8_t> a(kOut), b(kOut);
    upsample_step(base.data, base.w, base.h, base.stride, 3, 62, 126, a.data());
    upsample_step(a.data(), 72, 72, 288, 4, 34, 2, b.data());
    const RawImage& p = synthesise_tile(6, 5, 8, 3);
    EXPECT_EQ(&p, &synth_b);
    EXPECT_EQ(0, memcmp(synth_a.data, a.data(), kOut));
    EXPECT_EQ(0, memcmp(synth_b.data, b.data(), kOut));
    std::vector<uint8_t> even(kOut), odd(kOut);
    EXPECT_EQ(synthesise_tile_into(base, 5, 8, 3, even.data(), odd.data()), odd.data());
    EXPECT_EQ(odd, b);

    // Level 4: one more step from synth_b into synth_a, tile (11, 17) -> parities (1, 1).
    std::vector<uint8_t> c(kOut);
    upsample_step(b.data(), 72, 72, 288, 4, 34, 34, c.data());
    const RawImage& q = synthesise_tile(6, 11, 17, 4);
    EXPECT_EQ(&q, &synth_a);
    EXPECT_EQ(0, memcmp(synth_a.data, c.data(), kOut));
}

namespace {

void fill_image(RawImage& img, int c0, int c1, int c2) {
    for (int y = 0; y < img.h; ++y)
        for (int x = 0; x < img.w; ++x) {
            uint8_t* p = img.data + y * img.stride + x * 4;
            p[0] = uint8_t(c0);
            p[1] = uint8_t(c1);
            p[2] = uint8_t(c2);
        }
}

int final_at(int x, int y, int c = 0) {
    return final_tile.data[y * final_tile.stride + x * 4 + c];
}

class SettingsGuard {
  public:
    SettingsGuard() : saved_(viewer_settings) {}
    ~SettingsGuard() { viewer_settings = saved_; }

  private:
    ViewerSettings saved_;
};

}  // namespace

TEST(AddResidual, AttenuatesTowardsTheTopAndLeftEdges) {
    load_fixture_once();
    SettingsGuard guard;
    viewer_settings.compressedResidue = 1;
    struct Probe {
        int x, y, d;
    };
    const Probe probes[] = {{32, 32, 3}, {3, 40, 3},  {61, 20, 3}, {2, 32, 2},  {62, 32, 2},
                            {30, 62, 2}, {63, 32, 1}, {1, 40, 1},  {63, 63, 1}, {0, 10, 0},
                            {10, 0, 0},  {0, 63, 0},  {63, 0, 0}};
    const int low[4] = {150 - 64, 150 - 84, 150 - 101, 150 - 127};   // r = 0 on p = 150
    const int high[4] = {100 + 64, 100 + 85, 100 + 102, 100 + 128};  // r = 255 on p = 100
    for (auto* add : {add_residual, add_residual_plain}) {
        fill_image(synth_b, 150, 150, 150);
        fill_image(residual_tile, 0, 0, 0);
        add(synth_b);
        for (const Probe& p : probes)
            EXPECT_EQ(final_at(p.x, p.y, 1), low[p.d]) << p.x << "," << p.y;
        fill_image(synth_b, 100, 100, 100);
        fill_image(residual_tile, 255, 255, 255);
        add(synth_b);
        for (const Probe& p : probes)
            EXPECT_EQ(final_at(p.x, p.y, 2), high[p.d]) << p.x << "," << p.y;
        // Clamping at both ends.
        fill_image(synth_b, 250, 5, 250);
        fill_image(residual_tile, 255, 0, 127);
        add(synth_b);
        EXPECT_EQ(final_at(32, 32, 0), 255);
        EXPECT_EQ(final_at(32, 32, 1), 0);
        EXPECT_EQ(final_at(0, 0, 1), 0);
    }
}

TEST(AddResidual, ZeroPointIs127AndOffCopiesTheCore) {
    load_fixture_once();
    SettingsGuard guard;
    std::mt19937 rng(7);
    for (int i = 0; i < 72 * 72 * 4; ++i) synth_a.data[i] = uint8_t(rng());
    for (auto* add : {add_residual, add_residual_plain}) {
        viewer_settings.compressedResidue = 1;
        fill_image(residual_tile, 127, 127, 127);
        add(synth_a);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(final_at(x, y, c), synth_a.data[(y + 4) * 288 + (x + 4) * 4 + c]);
        fill_image(residual_tile, 128, 128, 128);  // a decoded zero
        add(synth_a);
        const int p = synth_a.data[(20 + 4) * 288 + (20 + 4) * 4];
        EXPECT_EQ(final_at(20, 20), p == 255 ? 255 : p + 1);
        EXPECT_EQ(final_at(0, 20), synth_a.data[(20 + 4) * 288 + 4 * 4]);  // 1 >> 1 = 0
        viewer_settings.compressedResidue = 0;
        fill_image(residual_tile, 0, 0, 0);
        add(synth_a);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(final_at(x, y, c), synth_a.data[(y + 4) * 288 + (x + 4) * 4 + c]);
    }
}

TEST(AddResidual, FastFormMatchesThePlainOne) {
    load_fixture_once();
    SettingsGuard guard;
    viewer_settings.compressedResidue = 1;
    std::mt19937 rng(99);
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 72 * 72 * 4; ++i) synth_b.data[i] = uint8_t(rng());
        for (int i = 0; i < 64 * 64 * 4; ++i) residual_tile.data[i] = uint8_t(rng());
        add_residual_plain(synth_b);
        std::vector<uint8_t> plain(final_tile.data, final_tile.data + 64 * 64 * 4);
        add_residual(synth_b);
        for (int i = 0; i < 64 * 64 * 4; ++i) {
            if (i % 4 == 3) continue;
            ASSERT_EQ(final_tile.data[i], plain[i]) << "byte " << i;
        }
    }
}
