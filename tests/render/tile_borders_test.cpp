// The smoothing across stored tiles' borders on single lines: which steps it takes part of, which
// it leaves, and how its strength follows the quality.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "render/tile_borders.h"

namespace {

// A line of eight pixels crossing a border between the fourth and the fifth, grey values `v`,
// filtered as a vertical border; returns the values after.
std::vector<int> filtered(const BorderFilter& f, const std::vector<int>& v) {
    std::vector<uint8_t> px(v.size() * 4);
    for (size_t i = 0; i < v.size(); ++i)
        for (int c = 0; c < 3; ++c) px[4 * i + size_t(c)] = uint8_t(v[i]);
    const int col = 4;
    filter_tile_borders(f, px.data(), px.size(), int(v.size()), 1, &col, 1, nullptr, 0);
    std::vector<int> out;
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(px[4 * i], px[4 * i + 1]);
        EXPECT_EQ(px[4 * i], px[4 * i + 2]);
        out.push_back(px[4 * i]);
    }
    return out;
}

}  // namespace

TEST(TileBorders, TakesPartOfAnExcessStepOnSmoothSidesOnly) {
    BorderFilter f;
    f.strength = 128;  // half the excess each side
    f.max_excess2 = 63;
    f.max_side = 16;
    const struct {
        const char* what;
        std::vector<int> in, out;
    } cases[] = {
        {"a step on flat ground: taken out, spread over four pixels",
         {100, 100, 100, 100, 108, 108, 108, 108},
         {100, 100, 101, 104, 104, 107, 108, 108}},
        {"a step down, the mirror image",
         {108, 108, 108, 108, 100, 100, 100, 100},
         {108, 108, 107, 104, 104, 101, 100, 100}},
        {"a ramp through the border: no excess, untouched",
         {90, 94, 98, 102, 106, 110, 114, 118},
         {90, 94, 98, 102, 106, 110, 114, 118}},
        {"a step on a ramp: only its excess",
         {90, 94, 98, 102, 114, 118, 122, 126},
         {90, 94, 99, 106, 110, 117, 122, 126}},
        {"one level: one pixel moves",
         {50, 50, 50, 50, 51, 51, 51, 51},
         {50, 50, 50, 51, 51, 51, 51, 51}},
        {"an edge beyond the largest excess: kept",
         {60, 60, 60, 60, 100, 100, 100, 100},
         {60, 60, 60, 60, 100, 100, 100, 100}},
        {"a busy side: kept",
         {100, 100, 80, 100, 108, 108, 108, 108},
         {100, 100, 80, 100, 108, 108, 108, 108}},
        {"the largest excess taken",
         {100, 100, 100, 100, 131, 131, 131, 131},
         {100, 100, 105, 116, 116, 126, 131, 131}},
        {"one level beyond it: kept",
         {100, 100, 100, 100, 132, 132, 132, 132},
         {100, 100, 100, 100, 132, 132, 132, 132}},
    };
    for (const auto& c : cases) EXPECT_EQ(filtered(f, c.in), c.out) << c.what;
    // Off: nothing moves.
    EXPECT_EQ(filtered(BorderFilter{}, cases[0].in), cases[0].in);
}

TEST(TileBorders, StrengthFallsAsTheQualityRises) {
    // Limits of one quantisation step for a side and two for the excess (doubled): at quality 30
    // the step is 7.89 grey levels, at 60 2.44, at 90 0.76.
    const struct {
        int quality, strength, max_excess2, max_side;
    } cases[] = {{0, 128, 102, 26}, {30, 128, 32, 8}, {60, 128, 10, 2}, {75, 128, 5, 1},
                 {80, 81, 4, 1},    {90, 32, 3, 1},   {100, 13, 2, 1}};
    for (const auto& c : cases) {
        const BorderFilter f = border_filter_for_quality(c.quality);
        EXPECT_EQ(f.strength, c.strength) << c.quality;
        EXPECT_EQ(f.max_excess2, c.max_excess2) << c.quality;
        EXPECT_EQ(f.max_side, c.max_side) << c.quality;
    }
}
