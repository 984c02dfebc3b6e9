// The viewer as someone uses it on their own data: opening a folder by name, panning with a
// drag, zooming with the wheel, fullscreen, saving the frame and flying home. Frames are compared
// pixel for pixel with quorvik-tool's rendering of the same camera.
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/screenshot.h"
#include "store/format.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/viewer_log.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

// One window pixel at the start height in a 512 x 512 window: 504 / 512 world units, exact in
// float, so that a drag's camera is known exactly.
constexpr float kStartPixel = 504.0f / 512.0f;

// Moves the fixture from the working directory to work/maps/earth/ezw_data, where only DIR finds
// it; returns work/maps/earth.
std::string move_fixture_away(e2e::Session& s) {
    const std::string earth = s.workdir() + "/maps/earth";
    fs::create_directories(earth);
    fs::rename(s.workdir() + "/ezw_data", earth + "/ezw_data");
    return earth;
}

// Screenshots of `window` (0: the whole screen) until one equals `expected` or the time is up;
// returns the differing pixels of the last one.
int differing_frame(e2e::Session& s, unsigned long window, const e2e::Image& expected,
                    int timeout_ms = 5000) {
    int diff = -1;
    for (int waited = 0;; waited += 100) {
        const e2e::Image shot = window ? s.screenshot(window) : s.screenshot_root();
        diff = e2e::differing_pixels(shot, expected);
        if (diff == 0 || waited >= timeout_ms) return diff;
        e2e::sleep_ms(100);
    }
}

// `notches` wheel notches at (x, y) in the window: up (zoom in) when positive.
void wheel(e2e::Session& s, unsigned long window, int x, int y, int notches) {
    s.mouse_move(window, x, y);
    s.run_tool({"xdotool", "click", "--repeat", std::to_string(std::abs(notches)), "--delay", "30",
                notches > 0 ? "4" : "5"});
}

// Starts the viewer and waits for its first frames; returns the drawing window (0 on failure,
// with the failure recorded).
unsigned long start_viewer(e2e::Session& s) {
    if (!s.start() || !s.wait_until_running()) {
        ADD_FAILURE() << "the viewer did not start: " << s.err();
        return 0;
    }
    return s.viewer_window();
}

// Quits with q, which must end the viewer with status 0.
void quit(e2e::Session& s) {
    s.key("q");
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
}

// Opens the viewer with `args`, checks that it loads the fixture from `folder` (as the log must
// name it) and shows the start camera's frame, runs `check` and quits.
void expect_opens(
    e2e::Session& s, const std::vector<std::string>& args, const std::string& earth,
    const std::string& folder, const std::function<void()>& check = [] {}) {
    ASSERT_TRUE(s.start(args));
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    check();
    const e2e::Image expected =
        e2e::render_with_tool(earth, s.workdir(), kStartX, kStartHeight, kStartZ, 512, 512);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(differing_frame(s, s.viewer_window(), expected), 0)
        << "the first frames are not the start camera's";
    quit(s);
    std::string log;
    e2e::split_banner(s.out(), log);
    EXPECT_EQ(log, e2e::expected_log(earth + "/ezw_data", folder) + e2e::kClosingLines);
    EXPECT_EQ(e2e::without_toolkit_noise(s.err()), "<ESC> or <q> pressed. clean up!\n");
}

TEST(ViewerDir, AbsoluteFolder) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const std::string earth = move_fixture_away(s);
    ASSERT_NO_FATAL_FAILURE(expect_opens(s, {earth}, earth, earth + "/ezw_data"));
}

// A relative DIR is opened from the working folder, and --display alone (no DISPLAY in the
// environment) puts both windows on that display.
TEST(ViewerDir, RelativeFolderOnTheDisplayNamedByOption) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const std::string earth = move_fixture_away(s);
    s.unset_env("DISPLAY");
    ASSERT_NO_FATAL_FAILURE(
        expect_opens(s, {"--display=" + s.display(), "maps/earth"}, earth, "maps/earth/ezw_data"));
}

// The ezw_data folder given itself; the toolkit's --class (value as the next argument) reaches
// GTK, whose panel carries it as its window class.
TEST(ViewerDir, TheEzwDataFolderItselfWithAToolkitOption) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const std::string earth = move_fixture_away(s);
    const auto panel_class = [&] {
        const unsigned long panel = s.wait_for_panel_window();
        ASSERT_NE(panel, 0ul);
        EXPECT_EQ(s.window_info(panel).res_class, "QuorvikMaps");
    };
    ASSERT_NO_FATAL_FAILURE(expect_opens(s, {"--class", "QuorvikMaps", earth + "/ezw_data/"}, earth,
                                         earth + "/ezw_data", panel_class));
}

// A drag pans by exactly the dragged pixels times height / focal length; passing over the
// minimap with the button held starts no flight. A drag that starts on the minimap is the minimap
// click and does not pan. Home flies back to the start view.
TEST(ViewerMouse, DragPansExactlyAndTheMinimapKeepsItsClick) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const unsigned long w = start_viewer(s);
    ASSERT_NE(w, 0ul);
    s.raise(w);
    s.mouse_move(w, 400, 300);
    s.button_down();
    s.mouse_move(w, 250, 200);
    s.mouse_move(w, 100, 60);  // over the minimap, held there for several frames
    e2e::sleep_ms(500);
    s.button_up();

    const float x = kStartX + 300 * kStartPixel, z = kStartZ + 240 * kStartPixel;
    const e2e::Image panned =
        e2e::render_with_tool(s.workdir(), s.workdir(), x, kStartHeight, z, 512, 512);
    ASSERT_FALSE(panned.empty());
    EXPECT_EQ(differing_frame(s, w, panned), 0) << "the frame is not the dragged camera's";
    float cx, cy, cz;
    ASSERT_TRUE(e2e::read_camera(s, cx, cy, cz));
    EXPECT_NEAR(cx, x, 1.0f) << "a flight moved the camera after the drag";
    EXPECT_NEAR(cz, z, 1.0f);
    EXPECT_EQ(cy, kStartHeight);
    EXPECT_EQ(differing_frame(s, w, panned, 0), 0);

    // Press on the minimap pixel (248, 95) for a few frames (the click is seen as button state),
    // drag off it and let go: a flight to 248/256 * 131072 - 16384 = 110592,
    // 95/128 * 65536 - 16384 = 32256 (under two seconds), without the drag's (172, 305) pixels of
    // pan (about 170 and 300 units).
    s.mouse_move(w, 248, 95);
    s.button_down();
    e2e::sleep_ms(200);
    s.mouse_move(w, 420, 400);
    e2e::sleep_ms(200);
    s.button_up();
    e2e::sleep_ms(1500);
    ASSERT_TRUE(e2e::read_settled_camera(s, cx, cy, cz)) << "the flight did not end";
    EXPECT_NEAR(cx, 110592.0f, 40.0f);
    EXPECT_NEAR(cz, 32256.0f, 40.0f);
    EXPECT_EQ(cy, kStartHeight);

    // Home: back to the start view's x and z at the present height.
    s.key("Home");
    e2e::sleep_ms(1500);
    ASSERT_TRUE(e2e::read_settled_camera(s, cx, cy, cz)) << "the flight did not end";
    EXPECT_NEAR(cx, kStartX, 40.0f);
    EXPECT_NEAR(cz, kStartZ, 40.0f);
    EXPECT_EQ(cy, kStartHeight);

    quit(s);
}

TEST(ViewerMouse, WheelZoomsAboutThePointerWithinTheHeightLimits) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const unsigned long w = start_viewer(s);
    ASSERT_NE(w, 0ul);
    s.raise(w);
    // Out first, so that a pixel (height / 512) spans more than the print-out's last digit.
    wheel(s, w, 256, 256, -5);
    float x0, h0, z0;
    ASSERT_TRUE(e2e::read_camera(s, x0, h0, z0));
    EXPECT_NEAR(h0, 504.0 / std::pow(0.8, 5), 0.01);

    // One notch in, far from the centre: the ground point under the pointer stays within a pixel.
    const int px = 60, py = 450;
    wheel(s, w, px, py, 1);
    float x1, h1, z1;
    ASSERT_TRUE(e2e::read_camera(s, x1, h1, z1));
    EXPECT_NEAR(h1, h0 * 0.8, 0.01);
    const auto ground = [](float c, float h, int p) { return c + (p + 0.5 - 256) * h / 512; };
    EXPECT_NEAR(ground(x1, h1, px), ground(x0, h0, px), h1 / 512) << "x of the point under it";
    EXPECT_NEAR(ground(z1, h1, py), ground(z0, h0, py), h1 / 512) << "z of the point under it";
    // ...which a zoom about the window's centre would have missed by over a hundred units.
    EXPECT_GT(std::fabs(x1 - x0), 100.0f);

    // The height stays between 100 and the height at which the whole image fits the window.
    wheel(s, w, 300, 100, 15);
    ASSERT_TRUE(e2e::read_camera(s, x1, h1, z1));
    EXPECT_EQ(h1, 100.0f);
    wheel(s, w, 400, 300, -40);
    ASSERT_TRUE(e2e::read_camera(s, x1, h1, z1));
    EXPECT_EQ(h1, 131072.0f);

    quit(s);
}

// Fullscreen at the desktop's size (the test display's 1280 x 1024) and back; the frame buffer
// follows as for a resize and every frame is the renderer's.
TEST(ViewerKeys, F11TogglesFullscreenAndBack) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_NE(start_viewer(s), 0ul);
    // The panel out of the picture, so that the screen shows only the drawing.
    const unsigned long panel = s.wait_for_panel_window();
    ASSERT_NE(panel, 0ul);
    s.run_tool({"xdotool", "windowmove", std::to_string(panel), "1400", "0"});

    size_t before = s.out().size();
    s.key("F11");  // held: the key repeats must not toggle again
    ASSERT_TRUE(s.wait_for_output("RESIZED: desired: 1280 1024  actually: 1280 1024\n"))
        << s.out().substr(before);
    const e2e::Image full =
        e2e::render_with_tool(s.workdir(), s.workdir(), kStartX, kStartHeight, kStartZ, 1280, 1024);
    EXPECT_EQ(differing_frame(s, 0, full), 0) << "the screen is not the fullscreen frame";
    EXPECT_EQ(s.out().substr(before),
              "\n\t REALLOC \nRESIZED: desired: 1280 1024  actually: 1280 1024\n");

    before = s.out().size();
    s.key("F11");
    ASSERT_TRUE(s.wait_for_output("RESIZED: desired: 512 512  actually: 512 512\n") &&
                s.out().size() > before)
        << s.out().substr(before);
    const unsigned long w = s.wait_for_viewer_window();
    ASSERT_NE(w, 0ul);
    EXPECT_EQ(s.window_info(w).width, 512);
    EXPECT_EQ(s.window_info(w).height, 512);
    const e2e::Image windowed =
        e2e::render_with_tool(s.workdir(), s.workdir(), kStartX, kStartHeight, kStartZ, 512, 512);
    EXPECT_EQ(differing_frame(s, w, windowed), 0);
    EXPECT_EQ(s.out().substr(before),
              "\n\t REALLOC \nRESIZED: desired: 512 512  actually: 512 512\n");

    quit(s);
}

// F12 saves the frame shown as a PNG in the working folder, under a name no file has: the files
// already there for the coming minutes' names stay as they are.
TEST(ViewerKeys, F12SavesTheFrameWithoutOverwriting) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    const time_t now = time(nullptr);
    const Bytes decoy = {'d', 'e', 'c', 'o', 'y'};
    for (time_t t = now - 2; t < now + 180; ++t)
        write_file(s.workdir() + "/" + screenshot_name(t, 0), decoy);
    ASSERT_NE(start_viewer(s), 0ul);

    s.key("F12");  // held: the key repeats must not save again
    ASSERT_TRUE(s.wait_for_output("saved ")) << s.err();
    e2e::sleep_ms(500);
    std::string out = s.out();
    size_t at = out.find("saved ");
    ASSERT_EQ(out.find("saved ", at + 1), std::string::npos) << "one press saved twice";
    const std::string first = out.substr(at + 6, out.find('\n', at) - at - 6);
    const std::string folder = fs::canonical(s.workdir()).string();
    EXPECT_EQ(first.rfind(folder + "/quorvik-", 0), 0u) << first;
    EXPECT_EQ(first.substr(first.size() - 6), "-1.png") << first;

    const e2e::Image expected =
        e2e::render_with_tool(s.workdir(), s.workdir(), kStartX, kStartHeight, kStartZ, 512, 512);
    const e2e::Image saved = e2e::read_png_file(first);
    ASSERT_EQ(saved.width, 512) << first;
    EXPECT_EQ(e2e::differing_pixels(saved, expected), 0) << "the PNG is not the frame shown";

    // A second press: another new file; the first stays as it was.
    const Bytes first_bytes = read_file(first);
    s.key("F12", 100);
    for (int waited = 0; s.out().find("saved ", at + 1) == std::string::npos && waited < 10000;
         waited += 50)
        e2e::sleep_ms(50);
    out = s.out();
    at = out.find("saved ", at + 1);
    ASSERT_NE(at, std::string::npos) << "the second press saved nothing";
    const std::string second = out.substr(at + 6, out.find('\n', at) - at - 6);
    EXPECT_NE(second, first);
    EXPECT_EQ(e2e::differing_pixels(e2e::read_png_file(second), expected), 0);
    EXPECT_EQ(read_file(first), first_bytes);
    for (time_t t = now - 2; t < now + 180; ++t)
        ASSERT_EQ(read_file(s.workdir() + "/" + screenshot_name(t, 0)), decoy);

    quit(s);
}

}  // namespace

namespace {

// Threads of a running process, from /proc.
int process_threads(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

}  // namespace

// --threads and --cache-mb reach the render engine: four threads make tiles where one did (three
// more threads in the process), and the frame is the same with and without the cache.
TEST(ViewerEngine, ThreadsAndCacheOptionsReachTheEngine) {
    QUORVIK_E2E_REQUIRE_X();
    int threads[2] = {0, 0};
    const std::vector<std::string> runs[2] = {{"--threads", "1", "--cache-mb", "0"},
                                              {"--threads=4", "--cache-mb=64"}};
    for (int k = 0; k < 2; ++k) {
        e2e::Session s;
        ASSERT_TRUE(s.start(runs[k]));
        ASSERT_TRUE(s.wait_until_running()) << s.err();
        const e2e::Image expected = e2e::render_with_tool(s.workdir(), s.workdir(), kStartX,
                                                          kStartHeight, kStartZ, 512, 512);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(differing_frame(s, s.viewer_window(), expected), 0) << runs[k][1];
        threads[k] = process_threads(s.pid());
        quit(s);
    }
    ASSERT_GT(threads[0], 0);
    EXPECT_EQ(threads[1] - threads[0], 3);
}
