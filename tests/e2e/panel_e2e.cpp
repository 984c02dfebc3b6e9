// The control panel as a user meets it: pressing Exit, closing the panel window, and the
// rendering switches seen in the drawing window.
#include <gtk/gtk.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "panel/panel.h"
#include "tests/e2e/harness.h"
#include "store/format.h"
#include "tests/support/fixture.h"

namespace {

// The start camera (kStartX, kStartHeight, kStartZ) is left alone in these tests unless a
// flight is started.
const int kMinimapW = 256, kMinimapH = 128;

// Where the panel's widgets sit inside its window. The viewer shows create_panel's window, so a
// copy laid out on the same display has the same geometry.
struct PanelLayout {
    std::string problem;  // empty when the layout is known
    int width = 0, height = 0;
    std::map<std::string, GdkRectangle> widgets;
    // The centre of a widget, in window coordinates.
    int cx(const std::string& name) const {
        return widgets.at(name).x + widgets.at(name).width / 2;
    }
    int cy(const std::string& name) const {
        return widgets.at(name).y + widgets.at(name).height / 2;
    }
};

const char* const kProbedWidgets[] = {"GUI_exitButton", "GUI_showMinimap", "GUI_bilinIpol"};

// Child side of the probe: lays a panel out on `display` and writes "width height" and then
// "x y w h" for each probed widget to `fd`.
[[noreturn]] void probe_layout_child(const std::string& display, int fd) {
    g_setenv("DISPLAY", display.c_str(), TRUE);
    if (!gtk_init_check(nullptr, nullptr)) _exit(2);
    GtkWidget* window = create_panel();
    gtk_widget_show(window);
    GtkWidget* exit_button = find_widget(window, "GUI_exitButton");
    for (int i = 0; i < 500 && !(GTK_WIDGET_MAPPED(window) && exit_button->allocation.height > 1);
         ++i) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        e2e::sleep_ms(10);
    }
    std::string text = std::to_string(window->allocation.width) + " " +
                       std::to_string(window->allocation.height) + "\n";
    for (const char* name : kProbedWidgets) {
        const GtkAllocation& a = find_widget(window, name)->allocation;
        text += std::to_string(a.x) + " " + std::to_string(a.y) + " " + std::to_string(a.width) +
                " " + std::to_string(a.height) + "\n";
    }
    if (write(fd, text.data(), text.size()) != ssize_t(text.size())) _exit(3);
    _exit(0);
}

// Lays a panel out in a child process, so that this process never holds a connection to a
// display that goes away with its session.
PanelLayout probe_layout(const std::string& display) {
    PanelLayout l;
    int fds[2];
    if (pipe(fds) != 0) {
        l.problem = "pipe failed";
        return l;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        probe_layout_child(display, fds[1]);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    std::istringstream in(text);
    in >> l.width >> l.height;
    for (const char* name : kProbedWidgets) {
        GdkRectangle& r = l.widgets[name];
        in >> r.x >> r.y >> r.width >> r.height;
    }
    if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !in)
        l.problem = "could not lay out a panel on " + display;
    else if (l.widgets["GUI_exitButton"].height <= 1)
        l.problem = "the panel was never laid out";
    return l;
}

// The frame quorvik-tool renders for the viewer's start camera in a 512 x 512 window.
e2e::Image tool_frame(e2e::Session& s, const std::vector<std::string>& flags) {
    return e2e::render_with_tool(s.workdir(), s.workdir(), kStartX, kStartHeight, kStartZ, 512, 512,
                                 flags);
}

using e2e::differing_pixels;

// Pixels of the minimap corner that show the data set's minimap picture.
int minimap_pixels_shown(const e2e::Image& frame) {
    int n = 0;
    for (int y = 0; y < kMinimapH; ++y)
        for (int x = 0; x < kMinimapW; ++x) n += frame.at(x, y) == fixture_minimap_rgb(x, y, 0);
    return n;
}

// Frames are drawn at up to 25 per second; this spans several.
void let_frames_pass() {
    e2e::sleep_ms(500);
}

class PanelE2E : public ::testing::Test {
  protected:
    void SetUp() override {
        QUORVIK_E2E_REQUIRE_X();
        layout_ = probe_layout(s.display());
        ASSERT_TRUE(layout_.problem.empty()) << layout_.problem;
        ASSERT_TRUE(s.start());
        ASSERT_TRUE(s.wait_until_running()) << s.err();
        viewer = s.viewer_window();
        panel = s.wait_for_panel_window();
        ASSERT_NE(panel, 0ul) << "no panel window";
        const e2e::WindowInfo info = s.window_info(panel);
        EXPECT_NE(info.name.find("QUORVIK"), std::string::npos) << info.name;
        ASSERT_EQ(info.width, layout().width) << "the panel is not laid out like create_panel's";
        ASSERT_EQ(info.height, layout().height);
        // Without a window manager both windows open at the top-left corner, the panel over
        // the minimap; side by side, each can be clicked and captured whole.
        s.run_tool({"xdotool", "windowmove", std::to_string(panel), "600", "0"});
        let_frames_pass();
    }
    void TearDown() override {
        if (s.running()) {
            s.key("q");
            s.wait_exit();
        }
    }
    const PanelLayout& layout() const { return layout_; }
    // xdotool's synchronous pointer move waits for a motion that never comes when the pointer
    // is already there, so every click starts from a parking spot away from any target.
    void click(unsigned long window, int x, int y, int hold_ms) {
        s.mouse_move(panel, 0, 0);
        s.click(window, x, y, hold_ms);
    }
    void click_panel(const char* name, int hold_ms = 100) {
        click(panel, layout().cx(name), layout().cy(name), hold_ms);
    }
    e2e::Image frame() {
        e2e::Image img = s.screenshot(viewer);
        EXPECT_EQ(img.width, 512);
        EXPECT_EQ(img.height, 512);
        return img;
    }
    // Frames until one meets `done` (a panel change is seen within a frame or two, but a loaded
    // machine may take longer); returns that frame, or the last one taken.
    template <class Done>
    e2e::Image frame_when(Done done, int timeout_ms = 5000) {
        e2e::Image img = frame();
        for (int waited = 0; !done(img) && waited < timeout_ms; waited += 100) {
            e2e::sleep_ms(100);
            img = frame();
        }
        return img;
    }

    e2e::Session s;
    PanelLayout layout_;
    unsigned long viewer = 0, panel = 0;
};

TEST_F(PanelE2E, ExitActsWhileTheButtonIsStillHeld) {
    s.mouse_move(panel, layout().cx("GUI_exitButton"), layout().cy("GUI_exitButton"));
    s.run_tool({"xdotool", "mousedown", "1"});
    const e2e::ExitResult r = s.wait_exit();
    s.run_tool({"xdotool", "mouseup", "1"});
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
    EXPECT_EQ(s.err(), "GUI - clean up!\n");
    const std::string out = s.out();
    const size_t pressed = out.find("EXIT button pressed.\n");
    ASSERT_NE(pressed, std::string::npos) << out;
    EXPECT_EQ(out.substr(pressed), "EXIT button pressed.\n\n\n\tcleaned up successfully\n");
    EXPECT_EQ(out.find("delete event occured"), std::string::npos);
}

TEST_F(PanelE2E, ClosingThePanelWindowEndsTheViewer) {
    ASSERT_TRUE(s.close_window(panel));
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
    EXPECT_EQ(s.err(), "GUI - clean up!\n");
    const std::string out = s.out();
    const size_t closed = out.find("delete event occured\n");
    ASSERT_NE(closed, std::string::npos) << out;
    EXPECT_EQ(out.substr(closed), "delete event occured\n\n\n\tcleaned up successfully\n");
    EXPECT_EQ(out.find("EXIT button pressed."), std::string::npos);
}

TEST_F(PanelE2E, MinimapSwitchHidesTheMinimapAndItsClick) {
    const e2e::Image with_map = frame();
    // All of the minimap corner but the camera marker's five pixels.
    EXPECT_GE(minimap_pixels_shown(with_map), kMinimapW * kMinimapH - 5);

    click_panel("GUI_showMinimap");
    const int gone = kMinimapW * kMinimapH / 10;
    const e2e::Image without_map =
        frame_when([&](const e2e::Image& f) { return minimap_pixels_shown(f) < gone; });
    EXPECT_LT(minimap_pixels_shown(without_map), gone);
    // Only the minimap corner changed: the view and the crosshair are as before.
    EXPECT_EQ(differing_pixels(with_map, without_map, 0, kMinimapH, 512, 512), 0);
    EXPECT_EQ(differing_pixels(with_map, without_map, kMinimapW, 0, 512, kMinimapH), 0);
    const e2e::Image expected = tool_frame(s, {"--no-minimap"});
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(differing_pixels(without_map, expected), 0)
        << "the frame is not the view without the minimap";

    // A click where the minimap was starts no flight: the view stays put.
    click(viewer, 40, 100, 200);
    e2e::sleep_ms(1500);
    EXPECT_EQ(differing_pixels(without_map, frame()), 0) << "the camera moved";

    // With the minimap back, the same click flies the camera away.
    click_panel("GUI_showMinimap");
    const int shown = kMinimapW * kMinimapH - 5;
    EXPECT_GE(minimap_pixels_shown(frame_when(
                  [&](const e2e::Image& f) { return minimap_pixels_shown(f) >= shown; })),
              shown);
    click(viewer, 40, 100, 200);
    const auto moved = [&](const e2e::Image& f) {
        return differing_pixels(with_map, f, 0, kMinimapH, 512, 512) > 0;
    };
    EXPECT_TRUE(moved(frame_when(moved))) << "a minimap click did not move the camera";
}

TEST_F(PanelE2E, BilinearSwitchGivesNearestSampling) {
    const e2e::Image bilinear = frame();
    EXPECT_EQ(differing_pixels(bilinear, tool_frame(s, {})), 0)
        << "the start frame is not the tool's bilinear frame";

    click_panel("GUI_bilinIpol");
    const e2e::Image nearest =
        frame_when([&](const e2e::Image& f) { return differing_pixels(bilinear, f) > 0; });
    EXPECT_GT(differing_pixels(bilinear, nearest), 0) << "switching sampling changed nothing";
    EXPECT_EQ(differing_pixels(nearest, tool_frame(s, {"--nearest"})), 0)
        << "the frame is not the tool's nearest-sampled frame";

    // And back.
    click_panel("GUI_bilinIpol");
    EXPECT_EQ(differing_pixels(bilinear, frame_when([&](const e2e::Image& f) {
                                   return differing_pixels(bilinear, f) == 0;
                               })),
              0);
}

}  // namespace
