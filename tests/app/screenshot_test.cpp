// Saving the frame (F12): the PNG holds the frame's pixels exactly, names follow the clock, and
// no existing file is ever overwritten.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/screenshot.h"
#include "tests/support/fixture.h"
#include "tests/support/png_read.h"

namespace {

// Reads a PNG back as packed words; empty when unreadable.
std::vector<uint32_t> read_png(const std::string& path, int& w, int& h) {
    std::vector<uint32_t> pixels;
    if (!read_png_pixels(path, w, h, pixels)) pixels.clear();
    return pixels;
}

std::vector<uint32_t> test_frame(int w, int h) {
    std::vector<uint32_t> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * w + x] = uint32_t(x * 7 + y * 31) << 16 | uint32_t(x ^ y) << 8 |
                                    uint32_t(255 - x) | (x == 3 ? 0xAB000000u : 0);
    return px;
}

class Screenshot : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_temp_dir("quorvik-shot");
        const char* tz = getenv("TZ");
        saved_tz_ = tz ? tz : "";
        had_tz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (had_tz_)
            setenv("TZ", saved_tz_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        remove_tree(dir_);
    }
    std::string dir_, saved_tz_;
    bool had_tz_ = false;
};

TEST_F(Screenshot, PngHoldsTheFramesPixelsExactly) {
    // An odd width, so that no row length is a multiple of anything convenient; the unused top
    // byte of a word must not leak into the picture.
    const int w = 37, h = 5;
    const std::vector<uint32_t> frame = test_frame(w, h);
    std::string why;
    const std::string path = save_screenshot(dir_, 0, frame.data(), w, h, why);
    ASSERT_FALSE(path.empty()) << why;
    int rw = 0, rh = 0;
    const std::vector<uint32_t> back = read_png(path, rw, rh);
    ASSERT_EQ(rw, w);
    ASSERT_EQ(rh, h);
    for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(back[i], frame[i] & 0xFFFFFFu) << "pixel " << i;
}

TEST_F(Screenshot, NamesFollowTheClockAndNeverOverwrite) {
    const time_t when = 1767323045;  // 2026-01-02 03:04:05 UTC
    EXPECT_EQ(screenshot_name(when, 0), "quorvik-20260102-030405.png");
    EXPECT_EQ(screenshot_name(when, 2), "quorvik-20260102-030405-2.png");

    // Two frames saved in the same second, with a file of the first name already there.
    write_file(dir_ + "/quorvik-20260102-030405.png", Bytes{'o', 'l', 'd'});
    const std::vector<uint32_t> frame = test_frame(4, 4);
    std::string why;
    const std::string first = save_screenshot(dir_, when, frame.data(), 4, 4, why);
    const std::string second = save_screenshot(dir_, when, frame.data(), 4, 4, why);
    EXPECT_EQ(first, dir_ + "/quorvik-20260102-030405-1.png");
    EXPECT_EQ(second, dir_ + "/quorvik-20260102-030405-2.png");
    EXPECT_EQ(read_file(dir_ + "/quorvik-20260102-030405.png"), (Bytes{'o', 'l', 'd'}));
    int w = 0, h = 0;
    EXPECT_EQ(read_png(first, w, h).size(), 16u);
    EXPECT_EQ(read_png(second, w, h).size(), 16u);
}

TEST_F(Screenshot, FailuresSayWhyAndLeaveNoFile) {
    const std::vector<uint32_t> frame = test_frame(8, 8);
    std::string why;
    EXPECT_EQ(save_screenshot(dir_ + "/missing", 0, frame.data(), 8, 8, why), "");
    EXPECT_NE(why.find(dir_ + "/missing/quorvik-19700101-000000.png: "), std::string::npos) << why;

    EXPECT_EQ(save_screenshot(dir_, 0, nullptr, 8, 8, why), "");
    EXPECT_NE(why.find("no frame"), std::string::npos) << why;
    EXPECT_TRUE(std::filesystem::is_empty(dir_)) << "a failed save left a file behind";

    // A device that is always full: the write fails and says so.
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full";
    why.clear();
    EXPECT_FALSE(write_png(full, frame.data(), 8, 8, why));
    EXPECT_FALSE(why.empty());
    fclose(full);
}

}  // namespace
