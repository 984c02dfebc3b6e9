#include "tests/e2e/harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/support/fixture.h"
#include "tests/support/png_read.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
}

bool env_flag(const char* name) {
    const char* v = getenv(name);
    return v && *v && strcmp(v, "0") != 0;
}

// Finds an executable in PATH; empty when missing.
std::string find_program(const std::string& name) {
    const char* path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return "";
}

std::string read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// One fixture data set per test process, copied into every working directory that wants one;
// copies (not links) so that a test damaging its files never touches the others.
std::string cached_fixture_dir() {
    static std::mutex lock;
    static std::string dir;
    std::lock_guard<std::mutex> guard(lock);
    if (dir.empty()) {
        dir = make_temp_dir("quorvik-e2e-fixture");
        write_fixture_data_set(dir);
        static struct Cleanup {
            ~Cleanup() { remove_tree(dir); }
        } cleanup;
    }
    return dir;
}

std::vector<char*> c_argv(std::vector<std::string>& args) {
    std::vector<char*> out;
    for (std::string& a : args) out.push_back(a.data());
    out.push_back(nullptr);
    return out;
}

void redirect(int fd, const char* path, int flags) {
    const int f = open(path, flags, 0644);
    if (f >= 0) {
        dup2(f, fd);
        close(f);
    }
}

// X connection for one query; closed by the destructor.
struct XConnection {
    Display* dpy;
    explicit XConnection(const std::string& display) : dpy(XOpenDisplay(display.c_str())) {}
    ~XConnection() {
        if (dpy) XCloseDisplay(dpy);
    }
};

// X errors (a window vanishing between the tree query and a property read) must not end the
// test process, which is Xlib's default.
int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}

std::string window_name(Display* dpy, Window w) {
    const Atom net_name = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, net_name, 0, 1024, False, utf8, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        std::string name(reinterpret_cast<char*>(data), n);
        XFree(data);
        if (!name.empty()) return name;
    }
    char* fetched = nullptr;
    if (XFetchName(dpy, w, &fetched) && fetched) {
        std::string name(fetched);
        XFree(fetched);
        return name;
    }
    return "";
}

long window_pid(Display* dpy, Window w) {
    const Atom pid_atom = XInternAtom(dpy, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(dpy, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (n == 1 && format == 32) pid = long(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}

WindowInfo describe_window(Display* dpy, Window w) {
    WindowInfo info;
    info.id = w;
    info.name = window_name(dpy, w);
    info.pid = window_pid(dpy, w);
    XClassHint hint{nullptr, nullptr};
    if (XGetClassHint(dpy, w, &hint)) {
        if (hint.res_class) info.res_class = hint.res_class;
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    XWindowAttributes attrs;
    if (XGetWindowAttributes(dpy, w, &attrs)) {
        info.width = attrs.width;
        info.height = attrs.height;
        info.viewable = attrs.map_state == IsViewable;
    }
    return info;
}

bool contains(const std::string& s, const char* part) {
    return s.find(part) != std::string::npos;
}

// Parses a binary PPM (P6) as ImageMagick writes it.
Image parse_ppm(const std::string& bytes) {
    Image img;
    std::istringstream in(bytes);
    std::string magic;
    in >> magic;
    if (magic != "P6") return img;
    int fields[3];
    for (int& f : fields) {
        in >> std::ws;
        while (in.peek() == '#') {
            std::string comment;
            std::getline(in, comment);
            in >> std::ws;
        }
        in >> f;
    }
    in.get();  // the single whitespace byte before the samples
    const int w = fields[0], h = fields[1], maxval = fields[2];
    if (w <= 0 || h <= 0 || maxval <= 0) return img;
    const int sample = maxval > 255 ? 2 : 1;
    const size_t start = size_t(in.tellg());
    if (bytes.size() < start + size_t(w) * h * 3 * sample) return img;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + start);
    img.width = w;
    img.height = h;
    img.pixels.resize(size_t(w) * h);
    for (size_t i = 0; i < img.pixels.size(); ++i) {
        uint32_t c[3];
        for (int k = 0; k < 3; ++k) {
            const unsigned v = sample == 2 ? (unsigned(p[0]) << 8 | p[1]) : p[0];
            c[k] = uint32_t(v * 255u / unsigned(maxval));
            p += sample;
        }
        img.pixels[i] = c[0] << 16 | c[1] << 8 | c[2];
    }
    return img;
}

}  // namespace

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string display_unavailable_reason() {
    const char* display = getenv("DISPLAY");
    if (!display || !*display)
        return "DISPLAY is not set: window tests need an X display (run under "
               "scripts/with-xvfb.sh)";
    if (find_program("xdotool").empty()) return "xdotool is not installed";
    if (find_program("import").empty()) return "ImageMagick's import is not installed";
    if (access(viewer_path().c_str(), X_OK) != 0)
        return "the viewer is not built: " + viewer_path();
    return "";
}

std::string viewer_path() {
    const char* over = getenv("QUORVIK_E2E_VIEWER");
    if (over && *over) return over;
#ifdef QUORVIK_E2E_VIEWER_PATH
    return QUORVIK_E2E_VIEWER_PATH;
#else
    return "quorvik";
#endif
}

std::string tool_path() {
#ifdef QUORVIK_TOOL_PATH
    return QUORVIK_TOOL_PATH;
#else
    return "";
#endif
}

Image read_ppm_file(const std::string& path) {
    return parse_ppm(read_whole(path));
}

Image read_png_file(const std::string& path) {
    Image img;
    if (!read_png_pixels(path, img.width, img.height, img.pixels)) return Image();
    return img;
}

int differing_pixels(const Image& a, const Image& b, int x0, int y0, int x1, int y1) {
    if (a.width != b.width || a.height != b.height) return (x1 - x0) * (y1 - y0);
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) n += a.at(x, y) != b.at(x, y);
    return n;
}

int differing_pixels(const Image& a, const Image& b) {
    return differing_pixels(a, b, 0, 0, a.width, a.height);
}

std::string camera_arg(float x, float y, float z) {
    char text[96];
    snprintf(text, sizeof text, "--camera=%.9g,%.9g,%.9g", double(x), double(y), double(z));
    return text;
}

Image render_with_tool(const std::string& data_dir, const std::string& scratch_dir, float x,
                       float y, float z, int width, int height,
                       const std::vector<std::string>& flags) {
    const std::string out = scratch_dir + "/tool_frame.ppm";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    std::vector<std::string> argv = {tool_path(), "render", "--data", data_dir, camera_arg(x, y, z),
                                     "--size",    size,     "--out",  out,      "--ppm"};
    argv.insert(argv.end(), flags.begin(), flags.end());
    std::string command;
    for (const std::string& a : argv) command += a + " ";
    const pid_t pid = fork();
    if (pid == 0) {
        redirect(0, "/dev/null", O_RDONLY);
        redirect(1, "/dev/null", O_WRONLY);
        std::vector<char*> c = c_argv(argv);
        execv(c[0], c.data());
        _exit(127);
    }
    int status = -1;
    if (pid > 0) waitpid(pid, &status, 0);
    if (pid <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "quorvik-tool render failed: " << command;
        return Image();
    }
    return read_ppm_file(out);
}

std::string ExitResult::describe() const {
    if (timed_out) return "still running at the deadline (killed)";
    if (exited) return "exited with status " + std::to_string(status);
    return std::string("killed by signal ") + strsignal(signal);
}

// ---------------------------------------------------------------------------------------------

XServer::XServer(int depth) {
    const std::string xvfb = find_program("Xvfb");
    if (xvfb.empty()) return;
    int fds[2];
    if (pipe(fds) != 0) return;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        redirect(0, "/dev/null", O_RDONLY);
        redirect(1, "/dev/null", O_WRONLY);
        redirect(2, "/dev/null", O_WRONLY);
        // Xvfb picks a free display number itself and writes it to the descriptor once ready.
        // -noreset: by default the server resets whenever its last client disconnects, and a
        // connection attempted during the reset is refused; SDL's start-up opens and closes one
        // connection just before opening the real one.
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = "1280x1024x" + std::to_string(depth);
        execl(xvfb.c_str(), "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
              "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return;
    }
    pid_ = pid;
    std::string number;
    const auto t0 = Clock::now();
    while (ms_since(t0) < 10000) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        const ssize_t got = read(fds[0], &c, 1);
        if (got <= 0) break;
        if (c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return;
    }
    display_ = ":" + number;
    // Only hand the display out once a client can really connect to it.
    while (ms_since(t0) < 10000) {
        if (Display* probe = XOpenDisplay(display_.c_str())) {
            XCloseDisplay(probe);
            return;
        }
        sleep_ms(20);
    }
    std::cerr << "[e2e] Xvfb announced " << display_ << " but accepts no connection\n";
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    display_.clear();
}

XServer::~XServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto t0 = Clock::now();
        while (waitpid(pid_, nullptr, WNOHANG) == 0) {
            if (ms_since(t0) > 3000) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
                break;
            }
            sleep_ms(10);
        }
    }
}

// ---------------------------------------------------------------------------------------------

Session::Session(SessionOptions options) : options_(options) {
    XSetErrorHandler(ignore_x_error);
    const char* env_display = getenv("DISPLAY");
    display_ = env_display ? env_display : "";
    if (options_.private_display && !env_flag("QUORVIK_E2E_SHARED_DISPLAY")) {
        xserver_ = new XServer(options_.depth);
        if (xserver_->ok()) {
            display_ = xserver_->display();
        } else {
            delete xserver_;
            xserver_ = nullptr;
        }
    }
    dir_ = make_temp_dir("quorvik-e2e");
    workdir_ = dir_ + "/run";
    fs::create_directories(workdir_);
    if (options_.fixture)
        fs::copy(cached_fixture_dir() + "/ezw_data", workdir_ + "/ezw_data",
                 fs::copy_options::recursive);
}

Session::~Session() {
    if (pid_ > 0 && !reaped_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    const bool failed = ::testing::Test::HasFailure();
    if (failed || env_flag("QUORVIK_E2E_KEEP")) {
        std::cerr << "[e2e] kept " << dir_ << " (stdout.txt, stderr.txt, run/)\n";
        if (failed) {
            std::string err_text = err();
            if (err_text.size() > 2000) err_text = "..." + err_text.substr(err_text.size() - 2000);
            std::cerr << "[e2e] viewer stderr:\n" << err_text << "\n";
        }
    } else {
        remove_tree(dir_);
    }
    delete xserver_;
}

void Session::set_env(const std::string& name, const std::string& value) {
    set_env_.emplace_back(name, value);
}

void Session::unset_env(const std::string& name) {
    unset_env_.push_back(name);
}

bool Session::start(const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    const std::string stdbuf = options_.line_buffered ? find_program("stdbuf") : "";
    if (!stdbuf.empty()) argv = {stdbuf, "-oL", "-eL"};
    argv.push_back(viewer_path());
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out_file = out_path(), err_file = err_path();

    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (chdir(workdir_.c_str()) != 0) _exit(126);
        redirect(0, "/dev/null", O_RDONLY);
        redirect(1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        redirect(2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC);
        if (display_.empty())
            unsetenv("DISPLAY");
        else
            setenv("DISPLAY", display_.c_str(), 1);
        for (const auto& [name, value] : set_env_) setenv(name.c_str(), value.c_str(), 1);
        for (const std::string& name : unset_env_) unsetenv(name.c_str());
        std::vector<char*> c = c_argv(argv);
        execv(c[0], c.data());
        _exit(127);
    }
    pid_ = pid;
    reaped_ = false;
    return true;
}

bool Session::running() {
    if (pid_ <= 0 || reaped_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    reaped_ = true;
    result_ = ExitResult();
    if (r == pid_) {
        result_.exited = WIFEXITED(status);
        result_.status = result_.exited ? WEXITSTATUS(status) : -1;
        result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
    return false;
}

bool Session::wait_for_output(const std::string& text, int timeout_ms, bool on_stderr) {
    const auto t0 = Clock::now();
    for (;;) {
        if ((on_stderr ? err() : out()).find(text) != std::string::npos) return true;
        if (ms_since(t0) > timeout_ms) return false;
        if (!running()) return (on_stderr ? err() : out()).find(text) != std::string::npos;
        sleep_ms(20);
    }
}

bool Session::wait_until_running(int timeout_ms) {
    const auto t0 = Clock::now();
    if (!wait_for_output("rearranged bits for faster rendering\n", timeout_ms)) return false;
    const int left = int(timeout_ms - ms_since(t0));
    const unsigned long w = wait_for_viewer_window(left > 0 ? left : 1);
    if (!w) return false;
    // The first frames have been drawn once the caption shows its first figure; input sent
    // before the frame loop runs would still be seen (key state persists), but screenshots not.
    while (ms_since(t0) < timeout_ms && running()) {
        const WindowInfo info = window_info(w);
        if (info.viewable && contains(info.name, "fps:") &&
            info.name.find_last_not_of(' ') > info.name.rfind("fps:") + 4)
            return true;
        sleep_ms(20);
    }
    return false;
}

std::vector<WindowInfo> Session::windows() {
    std::vector<WindowInfo> out;
    XConnection x(display_);
    if (!x.dpy) return out;
    Window root, parent, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(x.dpy, DefaultRootWindow(x.dpy), &root, &parent, &children, &n)) return out;
    for (unsigned int i = 0; i < n; ++i) {
        WindowInfo info = describe_window(x.dpy, children[i]);
        if (pid_ > 0 && info.pid == pid_) out.push_back(info);
    }
    if (children) XFree(children);
    return out;
}

unsigned long Session::viewer_window() {
    for (const WindowInfo& w : windows())
        if (contains(w.name, "QUORVIK") && contains(w.name, "fps:")) return w.id;
    return 0;
}

unsigned long Session::panel_window() {
    for (const WindowInfo& w : windows())
        if (w.viewable && contains(w.name, "QUORVIK") && !contains(w.name, "fps:")) return w.id;
    return 0;
}

unsigned long Session::wait_for_viewer_window(int timeout_ms) {
    const auto t0 = Clock::now();
    for (;;) {
        const unsigned long w = viewer_window();
        if (w && window_info(w).viewable) return w;
        if (ms_since(t0) > timeout_ms || !running()) return 0;
        sleep_ms(50);
    }
}

unsigned long Session::wait_for_panel_window(int timeout_ms) {
    const auto t0 = Clock::now();
    for (;;) {
        const unsigned long w = panel_window();
        if (w) return w;
        if (ms_since(t0) > timeout_ms || !running()) return 0;
        sleep_ms(50);
    }
}

WindowInfo Session::window_info(unsigned long id) {
    XConnection x(display_);
    if (!x.dpy) return WindowInfo();
    return describe_window(x.dpy, Window(id));
}

std::string Session::run_tool(const std::vector<std::string>& argv_in, int* exit_code) {
    std::vector<std::string> argv = argv_in;
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], 1);
        close(fds[1]);
        redirect(0, "/dev/null", O_RDONLY);
        setenv("DISPLAY", display_.c_str(), 1);
        std::vector<char*> c = c_argv(argv);
        execvp(c[0], c.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t got = read(fds[0], buf, sizeof buf);
        if (got <= 0) break;
        out.append(buf, size_t(got));
    }
    close(fds[0]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    if (exit_code) *exit_code = (pid > 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return out;
}

void Session::focus(unsigned long window) {
    if (!window) return;
    XConnection x(display_);
    if (!x.dpy) return;
    XSetInputFocus(x.dpy, Window(window), RevertToParent, CurrentTime);
    XSync(x.dpy, False);
}

void Session::raise(unsigned long window) {
    if (!window) return;
    {
        XConnection x(display_);
        if (!x.dpy) return;
        XRaiseWindow(x.dpy, Window(window));
        XSync(x.dpy, False);
    }
    // The viewer redraws its whole window every frame (40 ms at the default limit); the panel
    // repaints on its expose event within the next frame's panel iterations.
    sleep_ms(150);
}

void Session::key_down(const std::string& keysym) {
    run_tool({"xdotool", "keydown", keysym});
}

void Session::key_up(const std::string& keysym) {
    run_tool({"xdotool", "keyup", keysym});
}

void Session::key(const std::string& keysym, int hold_ms) {
    keys({keysym}, hold_ms);
}

void Session::keys(const std::vector<std::string>& keysyms, int hold_ms) {
    focus(viewer_window());
    for (const std::string& k : keysyms) key_down(k);
    sleep_ms(hold_ms);
    for (auto it = keysyms.rbegin(); it != keysyms.rend(); ++it) key_up(*it);
}

void Session::mouse_move(unsigned long window, int x, int y) {
    run_tool({"xdotool", "mousemove", "--sync", "--window", std::to_string(window),
              std::to_string(x), std::to_string(y)});
}

void Session::button_down(int button) {
    run_tool({"xdotool", "mousedown", std::to_string(button)});
}

void Session::button_up(int button) {
    run_tool({"xdotool", "mouseup", std::to_string(button)});
}

void Session::click(unsigned long window, int x, int y, int hold_ms, int button) {
    raise(window);
    mouse_move(window, x, y);
    run_tool({"xdotool", "mousedown", std::to_string(button)});
    sleep_ms(hold_ms);
    run_tool({"xdotool", "mouseup", std::to_string(button)});
}

void Session::resize(unsigned long window, int w, int h) {
    run_tool(
        {"xdotool", "windowsize", std::to_string(window), std::to_string(w), std::to_string(h)});
}

bool Session::close_window(unsigned long window) {
    // `xdotool windowclose` destroys the window instead; a close button (and what SDL turns into
    // its quit event) is the WM_DELETE_WINDOW client message.
    XConnection x(display_);
    if (!x.dpy || !window) return false;
    XEvent ev;
    memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = Window(window);
    ev.xclient.message_type = XInternAtom(x.dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = long(XInternAtom(x.dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(x.dpy, Window(window), False, NoEventMask, &ev);
    XSync(x.dpy, False);
    return sent != 0;
}

void Session::send_signal(int sig) {
    if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

Image Session::screenshot(unsigned long window) {
    if (!window) return Image();
    raise(window);
    return parse_ppm(run_tool({"import", "-window", std::to_string(window), "ppm:-"}));
}

Image Session::screenshot_root() {
    return parse_ppm(run_tool({"import", "-window", "root", "ppm:-"}));
}

bool Session::save_screenshot(unsigned long window, const std::string& png_path) {
    int code = -1;
    raise(window);
    run_tool({"import", "-window", std::to_string(window), png_path}, &code);
    return code == 0;
}

ExitResult Session::wait_exit(int timeout_ms) {
    const auto t0 = Clock::now();
    while (running()) {
        if (ms_since(t0) > timeout_ms) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            reaped_ = true;
            result_ = ExitResult();
            result_.timed_out = true;
            return result_;
        }
        sleep_ms(10);
    }
    return result_;
}

std::string Session::out() const {
    return read_whole(out_path());
}

std::string Session::err() const {
    return read_whole(err_path());
}

}  // namespace e2e
