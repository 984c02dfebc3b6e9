// The viewer as a user meets it: the start-up log, the ways out, window resizes and data sets
// that fail to load.
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "store/data_set.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/viewer_log.h"
#include "tests/support/fixture.h"

namespace {

using e2e::filenames_line;
using e2e::kClosingLines;
using e2e::last_ipos;
using e2e::split_banner;
using e2e::without_toolkit_noise;

// The start-up log for the fixture copied into the working directory.
std::string expected_log(const std::string& workdir) {
    return e2e::expected_log(workdir + "/ezw_data");
}

TEST(ViewerStartUp, LoadingLogIsExactAndQuitKeyEndsCleanly) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    s.key("q");
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();

    std::string rest;
    const std::string banner = split_banner(s.out(), rest);
    EXPECT_NE(banner.find("QUORVIK"), std::string::npos) << banner;
    EXPECT_EQ(rest, expected_log(s.workdir()) + kClosingLines);
    EXPECT_EQ(without_toolkit_noise(s.err()), "<ESC> or <q> pressed. clean up!\n");
}

TEST(ViewerStartUp, DrawingWindowIs512SquareAndCaptionCarriesTheRate) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    const e2e::WindowInfo w = s.window_info(s.viewer_window());
    EXPECT_EQ(w.width, 512);
    EXPECT_EQ(w.height, 512);
    // "<title> fps: " followed by a "%6.2f" figure.
    const size_t fps = w.name.rfind("fps: ");
    ASSERT_NE(fps, std::string::npos) << w.name;
    const std::string figure = w.name.substr(fps + 5);
    EXPECT_GE(figure.size(), 6u) << w.name;
    EXPECT_NE(figure.find('.'), std::string::npos) << w.name;
    EXPECT_EQ(figure.size() - figure.find('.'), 3u) << "two decimals: " << w.name;
    s.send_signal(SIGTERM);
    s.wait_exit();
}

TEST(ViewerExit, EscapeEndsCleanly) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    s.key("Escape");
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
    EXPECT_EQ(without_toolkit_noise(s.err()), "<ESC> or <q> pressed. clean up!\n");
    const std::string out = s.out();
    ASSERT_GE(out.size(), sizeof kClosingLines - 1);
    EXPECT_EQ(out.substr(out.size() - (sizeof kClosingLines - 1)), kClosingLines);
}

TEST(ViewerExit, ClosingTheDrawingWindowEndsCleanly) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    ASSERT_TRUE(s.close_window(s.viewer_window()));
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
    EXPECT_EQ(without_toolkit_noise(s.err()), "Window-close or <CTRL-C>. clean up!\n");
    const std::string out = s.out();
    EXPECT_EQ(out.substr(out.size() - (sizeof kClosingLines - 1)), kClosingLines);
}

TEST(ViewerLoading, MissingDataDirectoryFailsOnTheMinimap) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::SessionOptions options;
    options.fixture = false;
    e2e::Session s(options);
    ASSERT_TRUE(s.start());
    const e2e::ExitResult r = s.wait_exit(20000);
    EXPECT_TRUE(r.exited_with(1)) << r.describe();
    std::string rest;
    split_banner(s.out(), rest);
    EXPECT_EQ(rest,
              "RESIZED: desired: 512 512  actually: 512 512\n"
              "rawin filename = ./ezw_data/minimap.pzd\n" +
                  std::string(kClosingLines));
    EXPECT_EQ(without_toolkit_noise(s.err()),
              "could not open file ./ezw_data/minimap.pzd\nfailed to load minimap!");
}

TEST(ViewerLoading, MissingLevel4GreenFileOfC2StopsRightThere) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const int c2 = 6;
    ASSERT_STREQ(kSubImageNames[c2], "C2");
    std::filesystem::remove(s.workdir() + "/ezw_data/C2_ezt_1_4_G.ezw");
    ASSERT_TRUE(s.start());
    const e2e::ExitResult r = s.wait_exit(20000);
    EXPECT_TRUE(r.exited_with(1)) << r.describe();

    // Everything up to the C2 level-4 file names, then the fatal exit.
    const std::string full = expected_log(s.workdir());
    const std::string marker = filenames_line(c2, 4);
    const size_t cut = full.find(marker);
    ASSERT_NE(cut, std::string::npos);
    std::string rest;
    split_banner(s.out(), rest);
    EXPECT_EQ(rest, full.substr(0, cut + marker.size()) + kClosingLines);
    EXPECT_EQ(without_toolkit_noise(s.err()), "failed to load  at least one ezw file!");
}

TEST(ViewerWindow, ResizesAbove100AreTakenAndOthersIgnored) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    const unsigned long w = s.viewer_window();
    const size_t before = s.out().size();

    // A size of 100 in one direction is ignored. Give it several frames before the next resize:
    // SDL keeps only the newest pending resize event.
    s.resize(w, 100, 600);
    e2e::sleep_ms(700);
    s.resize(w, 101, 101);
    ASSERT_TRUE(s.wait_for_output("RESIZED: desired: 101 101")) << s.out().substr(before);
    e2e::sleep_ms(200);
    EXPECT_EQ(s.out().substr(before),
              "\n\t REALLOC \nRESIZED: desired: 101 101  actually: 101 101\n");

    // The viewer keeps running and drawing at the new size.
    s.key("q");
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
}

// Keys are read as state once per frame, so a held key acts in every frame it is down.
TEST(ViewerInput, HeldKeysMoveTheCameraAndAMinimapClickFliesIt) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    float x, y, z;
    s.key("p", 100);
    ASSERT_TRUE(s.wait_for_output("ipos = "));
    ASSERT_TRUE(last_ipos(s.out(), x, y, z));
    EXPECT_EQ(x, 111081.0f);
    EXPECT_EQ(y, 504.0f);
    EXPECT_EQ(z, 32424.0f);

    // s climbs 20 units per frame; several frames pass while it is held.
    s.key("s", 400);
    const size_t before = s.out().size();
    s.key("p", 100);
    ASSERT_TRUE(s.wait_for_output("ipos = ", 5000) && s.out().size() > before);
    ASSERT_TRUE(last_ipos(s.out(), x, y, z));
    EXPECT_EQ(x, 111081.0f);
    EXPECT_GE(y, 504.0f + 3 * 20);
    EXPECT_EQ(std::fmod(y - 504.0f, 20.0f), 0.0f) << y;

    // A click on the minimap pixel (248, 95) flies to x = 248/256 * 131072 - 16384 = 110592,
    // z = 95/128 * 65536 - 16384 = 32256, at the present height; that short flight takes under
    // two seconds on an idle machine. The last step may carry the camera one frame's travel past
    // the target (about ten units at this flight's final speed of 250 units per second).
    const float height = y;
    s.click(s.viewer_window(), 248, 95, 100);
    e2e::sleep_ms(1500);
    ASSERT_TRUE(e2e::read_settled_camera(s, x, y, z)) << "the flight did not end";
    EXPECT_NEAR(x, 110592.0f, 40.0f);
    EXPECT_NEAR(z, 32256.0f, 40.0f);
    EXPECT_EQ(y, height);

    s.key("q");
    EXPECT_TRUE(s.wait_exit().exited_with(0));
}

// What the frame loop draws reaches a 24-bit display pixel for pixel: the minimap is copied 1:1
// into the frame's top-left corner, so the screen must show the fixture's minimap there.
TEST(ViewerWindow, FrameReachesA24BitDisplayUnchanged) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    const e2e::Image shot = s.screenshot(s.viewer_window());
    ASSERT_EQ(shot.width, 512);
    ASSERT_EQ(shot.height, 512);
    // The camera marker sits at (248, 95) on the minimap in the start pose.
    int wrong = 0;
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 256; ++x) {
            if (std::abs(x - 248) <= 1 && std::abs(y - 95) <= 1) continue;
            if (shot.at(x, y) != fixture_minimap_rgb(x, y, 0) && wrong++ < 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex << shot.at(x, y)
                              << ", the minimap has " << fixture_minimap_rgb(x, y, 0);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(shot.at(248, 95), 0xBB0000u);
    EXPECT_EQ(shot.at(256, 256), 0xFFFFFFu);
    s.send_signal(SIGTERM);
    EXPECT_TRUE(s.wait_exit().exited_with(0));
}

// On 8- and 16-bit X displays the 32-bit frame goes through SDL's shadow surface, which must be
// made again at every new window size.
TEST(ViewerWindow, LowDepthDisplaysTakeResizes) {
    QUORVIK_E2E_REQUIRE_X();
    for (int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        e2e::SessionOptions options;
        options.depth = depth;
        e2e::Session s(options);
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(s.wait_until_running()) << s.err();
        s.resize(s.viewer_window(), 300, 200);
        EXPECT_TRUE(s.wait_for_output("RESIZED: desired: 300 200  actually: 300 200\n"));
        e2e::sleep_ms(300);
        s.key("q");
        const e2e::ExitResult r = s.wait_exit();
        EXPECT_TRUE(r.exited_with(0)) << r.describe() << "\n" << s.err();
    }
}

TEST(ViewerWindow, EightBitDummyDisplayRunsFramesAndEndsOnSigterm) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    // The dummy video driver reports an 8-bit desktop; the frame is 32-bit words.
    s.set_env("SDL_VIDEODRIVER", "dummy");
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_for_output("rearranged bits for faster rendering\n", 20000)) << s.err();
    // Let the frame loop run a number of frames (25 per second with the limiter).
    e2e::sleep_ms(800);
    ASSERT_TRUE(s.running()) << s.err();
    // SDL turns SIGTERM into its quit event, which only the frame loop handles.
    s.send_signal(SIGTERM);
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe() << "\n" << s.err();
    EXPECT_EQ(without_toolkit_noise(s.err()), "Window-close or <CTRL-C>. clean up!\n");
    const std::string out = s.out();
    EXPECT_EQ(out.substr(out.size() - (sizeof kClosingLines - 1)), kClosingLines);
}

}  // namespace
