// The application shell's arithmetic: window-shape values, the frame buffer, the frame limiter's
// delay, the caption schedule and its figure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/frame_state.h"
#include "app/frame_timing.h"

namespace {

TEST(WindowShape, ValuesForSquareWideAndTallWindows) {
    compute_window_shape(512, 512, 4 * 512, 512);
    EXPECT_EQ(focal_length, 512.0f);
    EXPECT_EQ(half_width_factor, 0.5f);
    EXPECT_EQ(half_height_factor, 0.5f);
    EXPECT_EQ(row_gap, 0);

    compute_window_shape(800, 600, 4 * 800, 800);
    EXPECT_EQ(focal_length, 600.0f);
    EXPECT_NEAR(half_width_factor, 0.6667, 1e-4);
    EXPECT_EQ(half_height_factor, 0.5f);
    // The half factors span the window: 2 * factor * focal_length pixels.
    EXPECT_NEAR(2 * half_width_factor * focal_length, 800.0, 1e-3);

    compute_window_shape(600, 800, 4 * 600, 600);
    EXPECT_EQ(focal_length, 600.0f);
    EXPECT_EQ(half_width_factor, 0.5f);
    EXPECT_NEAR(half_height_factor, 0.6667, 1e-4);
    EXPECT_NEAR(2 * half_height_factor * focal_length, 800.0, 1e-3);

    // The ratio is rounded to a float before the division; at 104 x 101 that changes the last bit
    // (0.51485145 instead of 0.51485151).
    compute_window_shape(104, 101, 4 * 104, 104);
    EXPECT_EQ(half_width_factor, float(0.5 / double(float(101.0 / 104.0))));
    EXPECT_NE(half_width_factor, float(0.5 / (101.0 / 104.0)));
    compute_window_shape(101, 104, 4 * 101, 101);
    EXPECT_EQ(half_height_factor, float(0.5 / double(float(101.0 / 104.0))));
}

TEST(WindowShape, RowGapComesFromTheSurfacePitch) {
    compute_window_shape(512, 512, 4 * 512 + 8, 512);
    EXPECT_EQ(row_gap, 2);
    compute_window_shape(101, 101, 4 * 101 + 4, 101);
    EXPECT_EQ(row_gap, 1);
    // The shape values follow the requested size, the gap the surface's own width.
    compute_window_shape(300, 200, 4 * 320, 320);
    EXPECT_EQ(row_gap, 0);
    EXPECT_EQ(focal_length, 200.0f);
}

TEST(FrameBuffer, FollowsTheRequestedSize) {
    ASSERT_TRUE(resize_frame_buffer(800, 600));
    EXPECT_EQ(frame_width, 800);
    EXPECT_EQ(frame_height, 600);
    ASSERT_NE(frame_buffer, nullptr);
    // 1,920,000 bytes, all writable (a sanitizer build catches a short block).
    memset(frame_buffer, 0xAB, 1920000);
    ASSERT_TRUE(resize_frame_buffer(101, 101));
    EXPECT_EQ(frame_width, 101);
    EXPECT_EQ(frame_buffer[0], 0xABABABABu);  // a reallocation keeps the block's start
    frame_buffer[101 * 101 - 1] = 0;
    free(frame_buffer);
    frame_buffer = nullptr;
}

TEST(FrameLimiter, SleepsForTheRestOfTheBudget) {
    EXPECT_EQ(limiter_delay(1, 25, 1000, 1012), 28u);
    // Budgets are 1000 / fps in whole milliseconds.
    EXPECT_EQ(limiter_delay(1, 30, 500, 500), 33u);
    EXPECT_EQ(limiter_delay(1, 100, 500, 500), 10u);
    EXPECT_EQ(limiter_delay(1, 5, 500, 500), 200u);
    EXPECT_EQ(limiter_delay(1, 7, 0, 0), 142u);
    // A frame that used its budget up, or more, gets no delay.
    EXPECT_EQ(limiter_delay(1, 25, 1000, 1040), 0u);
    EXPECT_EQ(limiter_delay(1, 25, 1000, 1500), 0u);
    EXPECT_EQ(limiter_delay(1, 25, 1000, 1039), 1u);
    // The limiter switched off never sleeps.
    EXPECT_EQ(limiter_delay(0, 25, 1000, 1000), 0u);
    // The elapsed time is a tick difference, right across a wrap of the counter.
    EXPECT_EQ(limiter_delay(1, 25, 0xFFFFFFF0u, 0x00000002u), 22u);
    EXPECT_EQ(limiter_delay(1, 25, 0xFFFFFFF0u, 0x00000040u), 0u);
}

TEST(Caption, FirstFigureAfterTheSecondFrameThenEveryNinth) {
    int counter = 7;
    std::vector<int> shown;
    for (int frame = 1; frame <= 40; ++frame)
        if (caption_due(counter)) shown.push_back(frame);
    EXPECT_EQ(shown, (std::vector<int>{2, 11, 20, 29, 38}));
}

TEST(Caption, FigureIsTheRateOfOneFrame) {
    char text[64];
    format_caption(text, sizeof text, "QUORVIK  fps: ", 40);
    EXPECT_STREQ(text, "QUORVIK  fps:  25.00");
    format_caption(text, sizeof text, "T ", 3);
    EXPECT_STREQ(text, "T 333.33");
    format_caption(text, sizeof text, "T ", 1500);
    EXPECT_STREQ(text, "T   0.67");
    // A frame measured as 0 ms has an infinite rate.
    format_caption(text, sizeof text, "T ", 0);
    EXPECT_STREQ(text, "T    inf");
    // A long title is cut, never overrun.
    const std::string long_title(100, 'x');
    format_caption(text, sizeof text, long_title.c_str(), 40);
    EXPECT_EQ(strlen(text), sizeof text - 1);
}

}  // namespace
