#pragma once
// End-to-end harness: runs the real viewer binary in a temporary working directory on an X
// display, drives it with xdotool, takes screenshots and collects its exit status and output.
//
// Display: window tests need X. When DISPLAY is unset the tests skip (QUORVIK_E2E_REQUIRE_X).
// When it is set and Xvfb is installed, every Session starts its own private 24-bit Xvfb, so that
// tests running in parallel (ctest -j) never steal each other's keyboard focus. Set
// QUORVIK_E2E_SHARED_DISPLAY=1 to use $DISPLAY itself instead (for watching a test on a desktop).
//
// Typical use:
//   QUORVIK_E2E_REQUIRE_X();
//   e2e::Session s;                     // private display + temp dir with the fixture data set
//   ASSERT_TRUE(s.start());
//   ASSERT_TRUE(s.wait_until_running());
//   s.key("q");
//   auto r = s.wait_exit();
//   EXPECT_TRUE(r.exited_with(0));
//   EXPECT_EQ(s.err(), "<ESC> or <q> pressed. clean up!\n");
#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#define QUORVIK_E2E_REQUIRE_X()                                            \
    do {                                                                   \
        const std::string e2e_reason_ = e2e::display_unavailable_reason(); \
        if (!e2e_reason_.empty()) GTEST_SKIP() << e2e_reason_;             \
    } while (0)

namespace e2e {

// Empty when window tests can run; otherwise why not (no DISPLAY, no xdotool, ...).
std::string display_unavailable_reason();

// Path of the viewer under test (set by CMake; QUORVIK_E2E_VIEWER overrides it).
std::string viewer_path();
// Path of quorvik-tool (set by CMake; empty when the tool is not built).
std::string tool_path();

// A private Xvfb server (1280 x 1024, 24 bits unless asked otherwise). Stopped by the destructor.
class XServer {
  public:
    explicit XServer(int depth = 24);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool ok() const { return pid_ > 0 && !display_.empty(); }
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

// An X window as seen from outside.
struct WindowInfo {
    unsigned long id = 0;
    std::string name;       // WM_NAME / _NET_WM_NAME
    std::string res_class;  // second string of WM_CLASS
    long pid = 0;           // _NET_WM_PID, 0 when not set
    int width = 0, height = 0;
    bool viewable = false;  // mapped and all ancestors mapped
};

// A screenshot: 0x00RRGGBB pixels, row by row.
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
    bool empty() const { return pixels.empty(); }
};

// A binary PPM (P6, maxval 255) as quorvik-tool --ppm writes it; empty when unreadable.
Image read_ppm_file(const std::string& path);
// An 8-bit PNG read with libpng; empty when unreadable.
Image read_png_file(const std::string& path);
// Pixels that differ inside [x0, x1) x [y0, y1), or anywhere (images of different sizes differ
// everywhere).
int differing_pixels(const Image& a, const Image& b, int x0, int y0, int x1, int y1);
int differing_pixels(const Image& a, const Image& b);
// "--camera=X,Y,Z" with every digit a float needs, for quorvik-tool render.
std::string camera_arg(float x, float y, float z);
// The frame quorvik-tool renders of the data set in `data_dir` (the folder holding ezw_data) for a
// camera and window size, written as PPM into `scratch_dir`; empty (with a test failure) when the
// tool fails.
Image render_with_tool(const std::string& data_dir, const std::string& scratch_dir, float x,
                       float y, float z, int width, int height,
                       const std::vector<std::string>& flags = {});

// How a run ended.
struct ExitResult {
    bool timed_out = false;  // still running at the deadline (it is then killed)
    bool exited = false;     // normal exit; `status` holds the exit code
    int status = -1;
    int signal = 0;  // the terminating signal when !exited && !timed_out
    bool exited_with(int code) const { return !timed_out && exited && status == code; }
    std::string describe() const;
};

struct SessionOptions {
    // Write the fixture data set into the working directory (copied from one cached per process).
    bool fixture = true;
    // Run the viewer with line-buffered stdout/stderr (stdbuf) so that wait_for_output sees lines
    // as they are printed; the text itself is the same either way.
    bool line_buffered = true;
    // Start a private Xvfb unless QUORVIK_E2E_SHARED_DISPLAY=1 or Xvfb is missing.
    bool private_display = true;
    // Colour depth of the private display (8, 16 or 24).
    int depth = 24;
};

// One run of the viewer: a temporary working directory (removed at the end unless the test
// failed or QUORVIK_E2E_KEEP=1), the captured output files and the process.
class Session {
  public:
    explicit Session(SessionOptions options = SessionOptions());
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The working directory (holds ezw_data when the fixture is on) and the X display used.
    const std::string& workdir() const { return workdir_; }
    const std::string& display() const { return display_; }

    // Environment of the viewer: the harness's own environment with DISPLAY set to display(),
    // plus these changes. Call before start().
    void set_env(const std::string& name, const std::string& value);
    void unset_env(const std::string& name);

    // Starts the viewer with its working directory, stdout and stderr captured to files.
    bool start(const std::vector<std::string>& args = {});
    pid_t pid() const { return pid_; }
    bool running();

    // Waits until the viewer has loaded the data set (the last start-up line is printed) and its
    // window is viewable. False on timeout or an early exit.
    bool wait_until_running(int timeout_ms = 20000);
    // Polls the captured stdout (or stderr) until it contains `text`.
    bool wait_for_output(const std::string& text, int timeout_ms = 10000, bool on_stderr = false);

    // All top-level windows of the viewer process, and the two it shows: the drawing window
    // (its caption carries the frame-rate figure "fps:") and the control panel (a viewable window
    // whose title contains QUORVIK and which is not the drawing window). 0 when not (yet) there.
    std::vector<WindowInfo> windows();
    unsigned long viewer_window();
    unsigned long panel_window();
    unsigned long wait_for_viewer_window(int timeout_ms = 20000);
    unsigned long wait_for_panel_window(int timeout_ms = 20000);
    WindowInfo window_info(unsigned long id);

    // Input through xdotool (XTEST). The viewer reads key and button state once per frame, so each
    // key or button is held for `hold_ms` to span several frames. Keys use X keysym names
    // ("q", "Escape", "w", "Shift_L", "p"). The drawing window gets the input focus first.
    void key(const std::string& keysym, int hold_ms = 300);
    // Several keys held together (pressed in order, released in reverse).
    void keys(const std::vector<std::string>& keysyms, int hold_ms = 300);
    void key_down(const std::string& keysym);
    void key_up(const std::string& keysym);
    // Moves the pointer to (x, y) inside `window` and holds the left (or given) button. Without
    // a window manager both windows open at the screen's corner, so the window is raised first.
    void click(unsigned long window, int x, int y, int hold_ms = 200, int button = 1);
    void mouse_move(unsigned long window, int x, int y);
    // Presses or releases a mouse button where the pointer is.
    void button_down(int button = 1);
    void button_up(int button = 1);
    void focus(unsigned long window);
    // Puts the window above the other (overlapping) windows and gives it time to redraw.
    void raise(unsigned long window);

    // Resizes a window from outside (as a window manager would).
    void resize(unsigned long window, int w, int h);
    // Asks the window to close the way a window manager's close button does (WM_DELETE_WINDOW).
    bool close_window(unsigned long window);
    // Sends a signal to the viewer process.
    void send_signal(int sig);

    // Screenshot of a window (ImageMagick import), raised first; empty on failure. The root
    // window (the whole screen) is not raised.
    Image screenshot(unsigned long window);
    Image screenshot_root();
    // Also saves the PNG next to the captured output (useful when a test fails).
    bool save_screenshot(unsigned long window, const std::string& png_path);

    // Waits for the viewer to end; kills it (SIGKILL) at the deadline.
    ExitResult wait_exit(int timeout_ms = 10000);

    // Captured output so far.
    std::string out() const;
    std::string err() const;
    std::string out_path() const { return dir_ + "/stdout.txt"; }
    std::string err_path() const { return dir_ + "/stderr.txt"; }

    // Runs a helper command with DISPLAY set to display(); returns its stdout (and exit code).
    std::string run_tool(const std::vector<std::string>& argv, int* exit_code = nullptr);

  private:
    SessionOptions options_;
    XServer* xserver_ = nullptr;
    std::string display_;
    std::string dir_;      // temp dir: output files and the working directory
    std::string workdir_;  // dir_/run
    std::vector<std::pair<std::string, std::string>> set_env_;
    std::vector<std::string> unset_env_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    ExitResult result_;
};

// Sleeps for `ms` milliseconds.
void sleep_ms(int ms);

}  // namespace e2e
