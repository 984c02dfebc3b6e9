// quorvik-tool render and bench, run as a separate process on a fixture data set.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/fixture.h"

namespace {

struct ToolRun {
    int status;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class RenderTool : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new std::string(make_temp_dir("quorvik_tool_render"));
        write_fixture_data_set(*dir_);
    }
    static void TearDownTestSuite() {
        remove_tree(*dir_);
        delete dir_;
    }

    ToolRun tool(const std::string& args) {
        const std::string out = *dir_ + "/stdout.txt", err = *dir_ + "/stderr.txt";
        const std::string cmd =
            std::string(QUORVIK_TOOL_PATH) + " " + args + " >" + out + " 2>" + err;
        const int raw = system(cmd.c_str());
        return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
    }
    std::string data() const { return "--data " + *dir_; }
    std::string path(const std::string& name) const { return *dir_ + "/" + name; }

    static std::string* dir_;
};
std::string* RenderTool::dir_ = nullptr;

uint32_t be32(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint32_t(uint8_t(s[at + 3]));
}

}  // namespace

TEST_F(RenderTool, WritesAnRgbPngOfTheRequestedSizeAndNothingOnStdout) {
    const ToolRun r =
        tool("render " + data() + " --camera=-5000,800,-100 --size 320x200 --out " + path("a.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string png = slurp(path("a.png"));
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(be32(png, 16), 320u);
    EXPECT_EQ(be32(png, 20), 200u);
    EXPECT_EQ(int(png[24]), 8);  // bit depth
    EXPECT_EQ(int(png[25]), 2);  // colour type RGB
}

TEST_F(RenderTool, FramesAreReproducibleAndMatchTheReferenceRoutines) {
    const std::string view = " --camera 48152,150,16000 --size 301x257 --ppm --out ";
    ASSERT_EQ(tool("render " + data() + view + path("f1.ppm")).status, 0);
    ASSERT_EQ(tool("render " + data() + view + path("f2.ppm")).status, 0);
    ASSERT_EQ(tool("render " + data() + view + path("p.ppm") + " --plain").status, 0);
    const std::string f1 = slurp(path("f1.ppm"));
    EXPECT_EQ(f1.substr(0, 15), "P6\n301 257\n255\n");
    EXPECT_EQ(f1.size(), 15u + 301 * 257 * 3);
    EXPECT_EQ(f1, slurp(path("f2.ppm")));
    EXPECT_EQ(f1, slurp(path("p.ppm")));
    // The switches change the picture.
    ASSERT_EQ(tool("render " + data() + view + path("n.ppm") + " --nearest --no-crosshair").status,
              0);
    EXPECT_NE(f1, slurp(path("n.ppm")));
}

TEST_F(RenderTool, VerboseReportsTheFrame) {
    const ToolRun r = tool("render " + data() +
                           " --camera 0,1000,0 --size 512x512 --verbose --out " + path("v.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("level 4"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("16 tiles"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("loaded"), std::string::npos);  // the loading log
}

TEST_F(RenderTool, BadArgumentsExitWithOneAndSayWhy) {
    const std::string ok = " --camera 0,1000,0 --size 64x64 --out " + path("x.png");
    struct Bad {
        std::string args, says;
    };
    const Bad bad[] = {
        {"render --camera 0,1000,0 --size 64x64 --out " + path("x.png"), "--data"},
        {"render " + data() + " --camera 0,1000 --size 64x64 --out " + path("x.png"), "--camera"},
        {"render " + data() + " --camera 0,nan,0 --size 64x64 --out " + path("x.png"), "--camera"},
        {"render " + data() + " --camera 0,1000,0 --size 0x64 --out " + path("x.png"), "--size"},
        {"render " + data() + " --camera 0,1000,0 --size 64 --out " + path("x.png"), "--size"},
        {"render " + data() + " --camera 0,1000,0 --size 64x64", "--out"},
        {"render --data " + path("nowhere") + ok, "ezw_data"},
        {"render " + data() + ok + " stray", "stray"},
        {"render " + data() + " --camera 0,1000,0 --size 64x64 --out " + path("no/dir/x.png"),
         "cannot write"},
        {"bench " + data() + " --frames 0", "--frames"},
    };
    for (const Bad& b : bad) {
        const ToolRun r = tool(b.args);
        EXPECT_EQ(r.status, 1) << b.args;
        EXPECT_NE(r.err.find(b.says), std::string::npos) << b.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << b.args;
    }
}

TEST_F(RenderTool, UnloadableDataSetExitsWithOne) {
    const std::string broken = make_temp_dir("quorvik_tool_broken");
    write_fixture_data_set(broken);
    truncate_file(broken + "/ezw_data/minimap.pzd", 5);
    const ToolRun r =
        tool("render --data " + broken + " --camera 0,1000,0 --size 64x64 --out " + path("y.png"));
    remove_tree(broken);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("minimap"), std::string::npos) << r.err;
}

TEST_F(RenderTool, HelpAndBench) {
    for (const char* sub : {"render", "bench"}) {
        const ToolRun r = tool(std::string(sub) + " --help");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("--data"), std::string::npos) << sub;
    }
    const ToolRun b = tool("bench " + data() + " --frames 2 --no-flights --threads 2");
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_NE(b.out.find("median"), std::string::npos);
    EXPECT_NE(b.out.find("1920x1080"), std::string::npos);
    EXPECT_NE(b.out.find("3840x2160"), std::string::npos);
    EXPECT_NE(b.out.find("2 threads, tile cache 256 MiB"), std::string::npos) << b.out;
    int lines = 0;
    for (char c : b.out) lines += c == '\n';
    EXPECT_EQ(lines, 10);  // two heading lines and eight views
}

// The scripted flights, back to back: both sizes, with the frame-time figures and the cache's hit
// rate; --no-flights leaves them out, and bad engine settings are refused.
TEST_F(RenderTool, BenchFliesThereAndBack) {
    const ToolRun b = tool("bench " + data() + " --frames 1 --pace 0 --threads 2 --cache-mb 64");
    ASSERT_EQ(b.status, 0) << b.err;
    const size_t heading = b.out.find("flights from the start pose (111081, 32424)");
    ASSERT_NE(heading, std::string::npos) << b.out;
    const std::string flights = b.out.substr(heading);
    for (const char* size : {"1920x1080", "3840x2160"}) {
        const size_t at = flights.find(std::string("there+back ") + size);
        ASSERT_NE(at, std::string::npos) << flights;
        const std::string line = flights.substr(at, flights.find('\n', at) - at);
        EXPECT_NE(line.find('%'), std::string::npos) << line;  // a hit rate
    }
    const ToolRun off =
        tool("bench " + data() + " --frames 1 --no-flights --threads 1 --cache-mb 0");
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_NE(off.out.find("1 thread, no tile cache"), std::string::npos) << off.out;
    EXPECT_EQ(off.out.find("flights"), std::string::npos) << off.out;
    for (const char* bad : {" --threads 3000", " --cache-mb -1", " --pace x"}) {
        const ToolRun r = tool("bench " + data() + bad);
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find(std::string(bad).substr(1, 6)), std::string::npos) << r.err;
    }
}
