// Where OpenJPH's messages go (decoder/openjph.h).
#include "decoder/openjph.h"
#include "decoder/openjph_headers.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <mutex>

namespace {

// What the library printed last on this thread, for our error text; bounded so that a flood of
// warnings costs nothing.
thread_local std::string tls_message;
thread_local uint64_t tls_warnings = 0;
constexpr size_t kMaxMessage = 400;

enum class Kind { error, warning, info };

// The streams are unbuffered, so each write arrives on the thread whose call printed it.
ssize_t keep_message(void* cookie, const char* data, size_t n) {
    const Kind kind = *static_cast<const Kind*>(cookie);
    if (kind == Kind::info) return ssize_t(n);
    // The library prints "ojph error 0x... at file:line: " first, then the text, then a newline.
    if (data && n >= 5 && std::string(data, 5) == "ojph ") {
        tls_message.clear();
        if (kind == Kind::warning) ++tls_warnings;
        return ssize_t(n);
    }
    if (tls_message.size() < kMaxMessage)
        tls_message.append(data, std::min(n, kMaxMessage - tls_message.size()));
    while (!tls_message.empty() && tls_message.back() == '\n') tls_message.pop_back();
    return ssize_t(n);
}

FILE* message_stream(Kind* kind) {
    cookie_io_functions_t io = {};
    io.write = keep_message;
    FILE* f = fopencookie(kind, "w", io);
    if (f) setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

Kind g_error = Kind::error, g_warning = Kind::warning, g_info = Kind::info;

// Set while this thread is inside openjph_guarded(): where a SIGABRT jumps back to.
thread_local sigjmp_buf* tls_jump = nullptr;
struct sigaction g_previous_abort;

void on_abort(int sig) {
    if (sigjmp_buf* jump = tls_jump) {
        tls_jump = nullptr;
        siglongjmp(*jump, 1);
    }
    // Not ours: do what would have been done without us.
    if (g_previous_abort.sa_handler != SIG_DFL && g_previous_abort.sa_handler != SIG_IGN) {
        if (g_previous_abort.sa_flags & SA_SIGINFO)
            g_previous_abort.sa_sigaction(sig, nullptr, nullptr);
        else
            g_previous_abort.sa_handler(sig);
        return;
    }
    signal(SIGABRT, g_previous_abort.sa_handler);
    raise(SIGABRT);
}

}  // namespace

void openjph_start() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Should a stream fail to open, the library keeps printing to the terminal: noisy, no
        // harm done.
        if (FILE* f = message_stream(&g_error)) ojph::set_error_stream(f);
        if (FILE* f = message_stream(&g_warning)) ojph::set_warning_stream(f);
        if (FILE* f = message_stream(&g_info)) ojph::set_info_stream(f);
        struct sigaction act = {};
        act.sa_handler = on_abort;
        sigemptyset(&act.sa_mask);
        sigaction(SIGABRT, &act, &g_previous_abort);
    });
    tls_message.clear();
}

uint64_t openjph_warnings_on_this_thread() {
    return tls_warnings;
}

std::string openjph_fault(std::exception_ptr e) {
    std::string what = "OpenJPH failed";
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& x) {
        what = x.what();
        // The library's errors all throw this one text; what it printed says more.
        if (what == "ojph error" && !tls_message.empty()) what = "OpenJPH: " + tls_message;
    } catch (const char* s) {
        if (s) what = s;
    } catch (...) {
    }
    tls_message.clear();
    return what;
}

bool openjph_guarded(const std::function<void()>& body, std::string* fault) {
    sigjmp_buf jump;
    if (sigsetjmp(jump, 1) != 0) {
        // tls_jump was cleared by the handler; the library printed its assertion to stderr.
        if (fault) *fault = "OpenJPH failed an assertion on these bytes";
        return false;
    }
    tls_jump = &jump;
    try {
        body();
    } catch (...) {
        tls_jump = nullptr;
        if (fault) *fault = openjph_fault(std::current_exception());
        return false;
    }
    tls_jump = nullptr;
    return true;
}
