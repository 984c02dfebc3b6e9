// The viewer's command line from a terminal without a display: --help and --version, folders
// that hold no data set, and mistakes. None of these may need a display or open a window.
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/support/fixture.h"

namespace {

struct ViewerRun {
    e2e::ExitResult result;
    std::string out, err;
};

// Runs the viewer in a fresh working directory with no DISPLAY at all. `prepare` may lay out
// folders in the working directory first.
template <class Prepare>
ViewerRun run_without_display(const std::vector<std::string>& args, Prepare prepare) {
    e2e::SessionOptions options;
    options.fixture = false;
    options.private_display = false;
    // Only the whole output is read, after the exit; and stdbuf's preloaded library would come
    // before the sanitizer build's runtime.
    options.line_buffered = false;
    e2e::Session s(options);
    s.unset_env("DISPLAY");
    prepare(s.workdir());
    ViewerRun r;
    if (!s.start(args)) {
        ADD_FAILURE() << "cannot start " << e2e::viewer_path();
        return r;
    }
    r.result = s.wait_exit(20000);
    r.out = s.out();
    r.err = s.err();
    return r;
}

ViewerRun run_without_display(const std::vector<std::string>& args) {
    return run_without_display(args, [](const std::string&) {});
}

TEST(ViewerCommandLine, HelpAndVersionNeedNoDisplay) {
    const ViewerRun help = run_without_display({"--help"});
    EXPECT_TRUE(help.result.exited_with(0)) << help.result.describe() << help.err;
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("Usage: quorvik [OPTIONS] [DIR]\n", 0), 0u) << help.out;
    for (const char* part : {"--threads N", "--cache-mb M", "--version", "F11", "F12", "Home",
                             "left drag", "wheel", "Example:"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
    // -h is the same text, whatever else stands on the line.
    const ViewerRun short_help = run_without_display({"/no/such/folder", "-h"});
    EXPECT_TRUE(short_help.result.exited_with(0)) << short_help.result.describe();
    EXPECT_EQ(short_help.out, help.out);

    const ViewerRun version = run_without_display({"--version"});
    EXPECT_TRUE(version.result.exited_with(0)) << version.result.describe() << version.err;
    EXPECT_TRUE(std::regex_match(version.out, std::regex("quorvik [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;
    EXPECT_EQ(version.err, "");
}

// A folder that cannot be a data set ends the start with one line naming it, before the banner,
// a window or the loading log.
TEST(ViewerCommandLine, FoldersWithoutADataSetEndWithOneLineAndStatus1) {
    const auto layout = [](const std::string& work) {
        std::filesystem::create_directories(work + "/empty");
        std::filesystem::create_directories(work + "/broken/ezw_data");
        std::ofstream(work + "/notes.txt") << "not a folder";
    };
    struct Case {
        std::string dir, why;
    } cases[] = {
        {"missing", "no such folder; expected a folder that holds ezw_data/minimap.pzd"},
        {"notes.txt", "not a folder; expected a folder that holds ezw_data/minimap.pzd"},
        {"empty", "holds no ezw_data/minimap.pzd"},
        {"broken", "holds an ezw_data folder without minimap.pzd"},
        {"/definitely/not/here",
         "no such folder; expected a folder that holds ezw_data/minimap.pzd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        const ViewerRun r = run_without_display({c.dir}, layout);
        EXPECT_TRUE(r.result.exited_with(1)) << r.result.describe();
        EXPECT_EQ(r.err, "quorvik: '" + c.dir + "': " + c.why + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(ViewerCommandLine, MistakesEndWithTheUsageHintAndStatus2) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"--threads", "many"},
         "option '--threads' wants a whole number from 0 to 1024, got 'many'"},
        {{"--cache-mb=-5"}, "option '--cache-mb' wants a whole number from 0 to 1048576, got '-5'"},
        {{"--cache-mb"}, "option '--cache-mb' needs a value"},
        {{"earth", "moon"},
         "more than one folder given ('earth' and 'moon'); the viewer opens one "
         "data set"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        const ViewerRun r = run_without_display(c.args);
        EXPECT_TRUE(r.result.exited_with(2)) << r.result.describe();
        EXPECT_EQ(r.err, "quorvik: " + c.line + "\nTry 'quorvik --help' for more information.\n");
        EXPECT_EQ(r.out, "");
    }
}

// A one-file picture that cannot be shown ends the start with one line naming it and the fault,
// before the banner or a window.
TEST(ViewerCommandLine, DamagedPictureFilesEndWithOneLineAndStatus1) {
    const auto layout = [](const std::string& work) {
        write_fixture_picture(work + "/good.qvk", 300, 200);
        const Bytes good = read_file(work + "/good.qvk");
        Bytes b = good;
        b.resize(b.size() - 10);
        write_file(work + "/short.qvk", b);
        b = good;
        b[1] = 'X';
        write_file(work + "/magic.qvk", b);
        write_file(work + "/empty.qvk", {});
        std::filesystem::create_directories(work + "/folder.qvk");
    };
    // The truncated file's message gives the whole file's length and what is left of it.
    const std::string scratch = make_temp_dir();
    write_fixture_picture(scratch + "/good.qvk", 300, 200);
    const size_t length = read_file(scratch + "/good.qvk").size();
    remove_tree(scratch);
    const struct Case {
        std::string file, fault;
    } cases[] = {
        {"short.qvk", "truncated: the header gives " + std::to_string(length) +
                          " bytes, the file has " + std::to_string(length - 10)},
        {"magic.qvk", "not a QUORVIK picture (wrong magic)"},
        {"empty.qvk", "not a QUORVIK picture (wrong magic)"},
        {"missing.qvk", "No such file or directory"},
        {"folder.qvk", "Is a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const ViewerRun r = run_without_display({c.file}, layout);
        EXPECT_TRUE(r.result.exited_with(1)) << r.result.describe();
        EXPECT_EQ(r.err, "quorvik: " + c.file + ": " + c.fault + "\n");
        EXPECT_EQ(r.out, "");
    }
}

}  // namespace
