// The builder's whole-image passes against the viewer's per-tile synthesis, and the decimation's
// phase.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "render/synth.h"
#include "store/data_set.h"
#include "render/render_buffers.h"
#include "builder/parallel.h"
#include "builder/pyramid.h"

using builder::Planes;
using builder::Pool;

namespace {

// A base texture with structure at every scale and hard edges (so clamping and the (-1, 9, 9, -1)
// overshoot both show), as the viewer holds it: 3 bytes per pixel.
void make_base(Planes& p, RawImage& raw, uint32_t seed) {
    std::mt19937 rng(seed);
    p.reset(1024, 1024, builder::kPredictionMargin);
    raw.bpp = 3;
    raw.w = raw.h = 1024;
    raw.stride = 3 * 1024;
    raw.data = static_cast<uint8_t*>(malloc(size_t(1024) * 1024 * 3));
    for (int y = 0; y < 1024; ++y)
        for (int x = 0; x < 1024; ++x)
            for (int c = 0; c < 3; ++c) {
                int v = ((x / 7 + y / 5 + c) % 3 == 0) ? 250 : 5;  // sharp blocks
                v = (v + int(rng() % 40) + (x * (c + 1) + y) % 64) % 256;
                p.at(c, x, y)[0] = uint8_t(v);
                raw.data[(size_t(y) * 1024 + x) * 3 + c] = uint8_t(v);
            }
    p.clamp_margin();
}

void alloc_work(RawImage& img) {
    img.bpp = 4;
    img.w = img.h = 72;
    img.stride = 288;
    img.data = static_cast<uint8_t*>(calloc(72 * 72, 4));
}

}  // namespace

TEST(WholeLevelPrediction, MatchesTheViewersTileSynthesisIncludingMarginsAndBorders) {
    Pool pool(2);
    Planes base;
    make_base(base, base_tex[3], 7);
    alloc_work(synth_a);
    alloc_work(synth_b);
    Planes pred[6];
    pred[1] = base;
    for (int l = 2; l <= 5; ++l) builder::upsample(pred[l - 1], pred[l], pool);

    for (int l = 2; l <= 5; ++l) {
        const int tiles = 16 << (l - 1);
        // Corners, edges (where the base texture is clamped) and a few interior tiles, of both
        // parities at every level.
        const int picks[][2] = {{0, 0},
                                {tiles - 1, 0},
                                {0, tiles - 1},
                                {tiles - 1, tiles - 1},
                                {1, 0},
                                {0, 1},
                                {tiles / 2, tiles / 2 + 1},
                                {5, 8},
                                {tiles - 2, 3}};
        for (const auto& t : picks) {
            const RawImage& tile = synthesise_tile(3, t[0], t[1], l);
            for (int y = 0; y < 72; ++y)
                for (int x = 0; x < 72; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const int want = tile.data[y * 288 + x * 4 + c];
                        const int got = pred[l].at(c, t[0] * 64 + x - 4, t[1] * 64 + y - 4)[0];
                        ASSERT_EQ(got, want) << "level " << l << " tile " << t[0] << "," << t[1]
                                             << " pixel " << x << "," << y << " channel " << c;
                    }
        }
    }
    free_raw_image(base_tex[3]);
    free_raw_image(synth_a);
    free_raw_image(synth_b);
}

TEST(WholeLevelPrediction, StripsEqualTheWholePass) {
    Pool pool(1);
    Planes base, whole, strips;
    RawImage raw;
    make_base(base, raw, 3);
    free_raw_image(raw);
    builder::upsample(base, whole, pool);
    strips.reset(2048, 2048, builder::kPredictionMargin);
    for (int y = -4; y < 2052; y += 37)
        builder::upsample_rows(base, strips, y, std::min(2052, y + 37));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(whole.c[c], strips.c[c]);
}

TEST(Decimation, KeepsFlatAndLinearContentInTheUpsamplersPhase) {
    Pool pool(2);
    Planes fine(64, 64, 0), coarse;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            fine.at(0, x, y)[0] = 77;              // flat
            fine.at(1, x, y)[0] = uint8_t(2 * x);  // ramp along x
            fine.at(2, x, y)[0] = uint8_t(3 * y);  // ramp along y
        }
    builder::decimate(fine, coarse, pool);
    ASSERT_EQ(coarse.w, 32);
    ASSERT_EQ(coarse.h, 32);
    // Away from the clamped edges, coarse pixel N is fine pixel 2N exactly: the filter is
    // symmetric about the even fine pixel, where the upsampler puts coarse pixel N back.
    for (int y = 2; y < 30; ++y)
        for (int x = 2; x < 30; ++x) {
            EXPECT_EQ(coarse.at(0, x, y)[0], 77);
            EXPECT_EQ(coarse.at(1, x, y)[0], 4 * x) << x;
            EXPECT_EQ(coarse.at(2, x, y)[0], 6 * y) << y;
        }
}

TEST(Pool, RunsEveryIndexOnceAndPassesErrorsOn) {
    Pool pool(3);
    std::vector<int> hits(1000, 0);
    pool.run(1000, [&](int64_t i) { hits[size_t(i)]++; });
    for (int h : hits) EXPECT_EQ(h, 1);
    EXPECT_THROW(pool.run(100,
                          [](int64_t i) {
                              if (i == 37) throw std::runtime_error("boom");
                          }),
                 std::runtime_error);
    // Still usable afterwards.
    std::atomic<int> n{0};
    pool.run(50, [&](int64_t) { ++n; });
    EXPECT_EQ(n.load(), 50);
}
