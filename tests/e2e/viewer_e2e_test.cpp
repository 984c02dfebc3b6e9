// The viewer as a user meets it: start-up log, the ways out, window resizes, failing data sets.
#include <signal.h>

#include <cstdio>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/support/fixture.h"

namespace {

// The toolkit may log its own warnings ("(quorvik:PID): Gtk-WARNING **: ...", each after a blank
// line); they are not the viewer's messages.
std::string without_toolkit_noise(const std::string& text) {
    std::string out, line;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
        pos = end == std::string::npos ? text.size() : end + 1;
        const bool toolkit =
            line.rfind("(quorvik:", 0) == 0 && line.find(" **: ") != std::string::npos;
        if (toolkit) {
            if (out.size() >= 1 && out.back() == '\n' &&
                (out.size() == 1 || out[out.size() - 2] == '\n'))
                out.pop_back();
            continue;
        }
        out += line;
    }
    return out;
}

TEST(ViewerExit, QuitKeyEndsCleanly) {
    QUORVIK_E2E_REQUIRE_X();
    e2e::Session s;
    ASSERT_TRUE(s.start());
    ASSERT_TRUE(s.wait_until_running()) << s.err();
    s.key("q");
    const e2e::ExitResult r = s.wait_exit();
    EXPECT_TRUE(r.exited_with(0)) << r.describe();
    EXPECT_EQ(without_toolkit_noise(s.err()), "<ESC> or <q> pressed. clean up!\n");
}

}  // namespace
