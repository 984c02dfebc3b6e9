// Whole builds on a subset of the geometry (the files always have the full one), verify's
// verdicts on damaged data sets, import, and interrupted builds.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips8>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "store/data_set.h"
#include "tests/support/fixture.h"
#include "builder/builder.h"
#include "builder/pyramid.h"
#include "builder/verify.h"

namespace fs = std::filesystem;
using builder::BuildOptions;
using builder::BuildReport;

namespace {

const std::string kTool = QUORVIK_TOOL_PATH;

int run_tool(const std::string& args) {
    const int st = std::system((kTool + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

bool verify_ok(const std::string& dir, bool decode = false) {
    FILE* sink = fopen("/dev/null", "w");
    builder::VerifyOptions opt;
    opt.decode = decode;
    opt.threads = 2;
    const bool ok = builder::verify_data_set(dir, opt, sink);
    fclose(sink);
    return ok;
}

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

BuildOptions small_build(const std::string& dir, int threads) {
    BuildOptions opt;
    opt.out_dir = dir;
    opt.threads = threads;
    opt.progress = false;
    opt.top_level = 2;
    opt.sub_mask = 0x81;  // A1 and D2, where the start camera looks
    return opt;
}

// One world, built with one and with two threads, shared by the tests that only read it.
struct SharedBuild {
    std::string dir1, dir2;
    BuildReport r1, r2;
    SharedBuild() {
        auto world = builder::make_world_source(1);
        dir1 = make_temp_dir("bld-one");
        dir2 = make_temp_dir("bld-two");
        r1 = builder::build_data_set(*world, small_build(dir1, 1));
        r2 = builder::build_data_set(*world, small_build(dir2, 2));
    }
    ~SharedBuild() {
        remove_tree(dir1);
        remove_tree(dir2);
    }
};
SharedBuild& shared() {
    static SharedBuild s;  // removed again when the test process ends
    return s;
}

// A picture file written with libvips: w x h pixels from a colour function.
std::string write_png(const std::string& dir, int w, int h, uint32_t (*rgb)(int, int)) {
    std::vector<uint8_t> px(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = rgb(x, y);
            uint8_t* p = &px[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(c >> 16), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c);
        }
    if (VIPS_INIT("quorvik-test") != 0) throw std::runtime_error("vips");
    vips::VImage im =
        vips::VImage::new_from_memory(px.data(), px.size(), w, h, 3, VIPS_FORMAT_UCHAR);
    const std::string path = dir + "/picture.png";
    im.write_to_file(path.c_str());
    return path;
}

// Mean colour of a base texture, as 0xRRGGBB.
uint32_t base_mean(const std::string& dir, int sub) {
    const Bytes f = read_file(dir + "/ezw_data/" + base_tex_name(sub));
    double sum[3] = {0, 0, 0};
    for (size_t i = 9; i < f.size(); ++i) sum[(i - 9) % 3] += f[i];
    uint32_t out = 0;
    for (int c = 0; c < 3; ++c) out = out << 8 | uint32_t(std::lround(sum[c] / (1024.0 * 1024.0)));
    return out;
}

}  // namespace

TEST(Build, OutputIsByteIdenticalForOneAndTwoThreads) {
    SharedBuild& s = shared();
    const auto names = listing(s.dir1 + "/ezw_data");
    ASSERT_EQ(names.size(), 105u);
    EXPECT_EQ(names, listing(s.dir2 + "/ezw_data"));
    for (const auto& n : names)
        EXPECT_TRUE(read_file(s.dir1 + "/ezw_data/" + n) == read_file(s.dir2 + "/ezw_data/" + n))
            << n;
    EXPECT_EQ(s.r1.level[2].sse, s.r2.level[2].sse);
}

// FNV-1a over the names and bytes of a data set's files, in name order.
uint64_t data_set_digest(const std::string& dir) {
    uint64_t h = 0xcbf29ce484222325ULL;
    auto mix = [&h](const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ULL;
    };
    for (const auto& n : listing(dir)) {
        const std::vector<uint8_t> bytes = read_file(dir + "/" + n);
        mix(reinterpret_cast<const uint8_t*>(n.data()), n.size());
        mix(bytes.data(), bytes.size());
    }
    return h;
}

TEST(Build, SmallWorldGivesTheRecordedBytes) {
    // The world, the decimation, the prediction and the coder run through loops that exist in a
    // vector copy and a plain one (sanitizer builds and older processors run the plain ones);
    // a data set must not depend on which ran. Record the digest anew only for an intended
    // change of the world or of the coder.
    EXPECT_EQ(data_set_digest(shared().dir1 + "/ezw_data"), 0xe78f0afb00d1c59aULL);
}

TEST(Build, LeavesOnlyTheDataSetAndPassesVerifyWithDecoding) {
    SharedBuild& s = shared();
    EXPECT_EQ(listing(s.dir1), std::vector<std::string>{"ezw_data"});
    EXPECT_TRUE(verify_ok(s.dir1, true));
    EXPECT_EQ(run_tool("verify --decode " + s.dir1), 0);
}

TEST(Build, ClosedLoopErrorIsWithinThePromiseAndStreamsAreWhole) {
    const BuildReport& r = shared().r1;
    EXPECT_EQ(r.level[2].pixels, 2 * 2048 * 2048);
    EXPECT_EQ(r.level[2].short_channels, 0);
    EXPECT_GE(r.level[2].psnr(), builder::Quality{}.promised_psnr());
    EXPECT_LT(r.level[2].psnr(), 80.0);  // a real measurement, not a placeholder
    EXPECT_EQ(r.level[3].pixels, 0);
    EXPECT_GT(r.coded_bytes, r.level[1].bytes);
}

TEST(Build, SummaryCountsOnlyTheCodedSubImagesAndLevels) {
    // A1 and D2 are coded up to level 2; the other sub-images' grey bases and empty records,
    // and the empty files above level 2, are written but are no part of the figures.
    SharedBuild& s = shared();
    const BuildReport& r = s.r1;
    const std::string d = s.dir1 + "/ezw_data/";
    const int64_t base_file = 9 + 3 * 1024 * 1024;
    EXPECT_EQ(r.level[1].pixels, 2 * 1024 * 1024);
    EXPECT_EQ(r.level[1].bytes, 2 * base_file);
    int64_t level2 = 0;
    for (int sub : {0, 7})
        for (char c : {'R', 'G', 'B'})
            level2 += int64_t(read_file(d + tile_file_name(sub, 2, c)).size());
    EXPECT_EQ(r.level[2].bytes, level2);
    for (int l = 3; l <= 5; ++l) EXPECT_EQ(r.level[l].bytes, 0) << l;
    EXPECT_EQ(r.coded_bytes, 2 * base_file + level2);
    EXPECT_EQ(r.top_level, 2);
    EXPECT_DOUBLE_EQ(r.pyramid_bpp(), 8.0 * double(r.coded_bytes) / double(r.level[2].pixels));
    int64_t on_disk = 0;
    for (const auto& n : listing(d)) on_disk += int64_t(read_file(d + n).size());
    EXPECT_EQ(r.files_bytes, on_disk);
    const std::string tsv = builder::format_report_tsv(r, 60, false);
    EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), 3) << tsv;  // levels 1, 2 and "all"
    EXPECT_NE(tsv.find("60\tall\t" + std::to_string(r.level[2].pixels) + "\t" +
                       std::to_string(r.coded_bytes) + "\t"),
              std::string::npos)
        << tsv;
}

TEST(World, IsDeterministicPerSeedAndHasNewDetailInEveryTileOfEveryLevel) {
    builder::Pool pool(2);
    auto a = builder::make_world_source(1);
    auto b = builder::make_world_source(1);
    auto c = builder::make_world_source(2);
    builder::Planes pa, pb, pc;
    a->sub_image(7, 1024, pa, pool);
    b->sub_image(7, 1024, pb, pool);
    c->sub_image(7, 1024, pc, pool);
    EXPECT_EQ(pa.c[0], pb.c[0]);
    EXPECT_NE(pa.c[0], pc.c[0]);

    // D2, where the start camera looks, up to level 3: every tile's residual against the
    // viewer's prediction must carry real energy, at level 2 and at level 3.
    builder::Planes src[4];
    a->sub_image(7, 4096, src[3], pool);
    builder::decimate(src[3], src[2], pool);
    builder::decimate(src[2], src[1], pool);
    builder::Planes base(1024, 1024, builder::kPredictionMargin), p2, p3;
    for (int ch = 0; ch < 3; ++ch)
        for (int y = 0; y < 1024; ++y) memcpy(base.at(ch, 0, y), src[1].at(ch, 0, y), 1024);
    base.clamp_margin();
    builder::upsample(base, p2, pool);
    builder::upsample(p2, p3, pool);
    for (int l = 2; l <= 3; ++l) {
        const builder::Planes& s = src[l];
        const builder::Planes& p = l == 2 ? p2 : p3;
        double weakest = 1e9;
        for (int ty = 0; ty < s.h / 64; ++ty)
            for (int tx = 0; tx < s.w / 64; ++tx) {
                double e = 0;
                for (int ch = 0; ch < 3; ++ch)
                    for (int y = 0; y < 64; ++y)
                        for (int x = 0; x < 64; ++x) {
                            const int d = s.at(ch, tx * 64 + x, ty * 64 + y)[0] -
                                          p.at(ch, tx * 64 + x, ty * 64 + y)[0];
                            e += d * d;
                        }
                weakest = std::min(weakest, std::sqrt(e / (3 * 4096)));
            }
        EXPECT_GT(weakest, 0.5) << "level " << l;
    }
}

TEST(Build, AnInterruptedBuildLeavesNoDataSetAndKeepsTheOldOne) {
    const std::string dir = make_temp_dir("bld-stop");
    auto world = builder::make_world_source(3);
    BuildOptions opt = small_build(dir, 2);
    opt.on_stage = [](int sub, int) {
        if (sub == 7) throw builder::BuildInterrupted();
    };
    EXPECT_THROW(builder::build_data_set(*world, opt), builder::BuildInterrupted);
    EXPECT_TRUE(listing(dir).empty());

    // A partial folder left by a build that was killed outright goes at the next build; one of a
    // running build (this process) stays.
    const std::string stale = dir + "/.ezw_data.partial-999999999";
    const std::string live = dir + "/.ezw_data.partial-" + std::to_string(getpid()) + "x";
    fs::create_directory(stale);
    fs::create_directory(live);
    EXPECT_THROW(builder::build_data_set(*world, opt), builder::BuildInterrupted);
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    fs::remove(live);

    // With a data set already there, an interrupted rebuild leaves it as it was.
    write_fixture_data_set(dir);
    const Bytes before = read_file(dir + "/ezw_data/D2_ezt_1_2_R.ezw");
    opt.on_stage = [](int, int) { builder::interrupt_requested = true; };
    EXPECT_THROW(builder::build_data_set(*world, opt), builder::BuildInterrupted);
    builder::interrupt_requested = false;
    EXPECT_EQ(listing(dir), std::vector<std::string>{"ezw_data"});
    EXPECT_TRUE(read_file(dir + "/ezw_data/D2_ezt_1_2_R.ezw") == before);

    // A completed build replaces it.
    opt.on_stage = nullptr;
    builder::build_data_set(*world, opt);
    EXPECT_EQ(listing(dir), std::vector<std::string>{"ezw_data"});
    EXPECT_FALSE(read_file(dir + "/ezw_data/D2_ezt_1_2_R.ezw") == before);
    remove_tree(dir);
}

TEST(Build, ATerminatedToolRemovesItsPartialFolder) {
    const std::string dir = make_temp_dir("bld-kill");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen("/dev/null", "w", stderr);
        freopen("/dev/null", "w", stdout);
        execl(kTool.c_str(), kTool.c_str(), "build", "--out", dir.c_str(), "--top-level", "3",
              "--threads", "1", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Wait until it has started writing, then stop it.
    bool partial = false;
    for (int i = 0; i < 600 && !partial; ++i) {
        for (const auto& n : fs::exists(dir) ? listing(dir) : std::vector<std::string>{})
            if (n.find("partial") != std::string::npos) partial = true;
        if (!partial) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(partial);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_TRUE(listing(dir).empty());
    remove_tree(dir);
}

TEST(Verify, AcceptsASoundDataSetAndRejectsEachKindOfDamage) {
    const std::string dir = make_temp_dir("bld-verify");
    const std::string data = dir + "/ezw_data/";
    write_fixture_data_set(dir);
    ASSERT_EQ(run_tool("verify " + dir), 0);
    ASSERT_EQ(run_tool("verify --decode " + data), 0);  // the folder itself works too

    struct Damage {
        const char* what;
        std::string file;
        std::function<void(const std::string&)> apply;
        bool needs_decode;
    };
    const std::vector<Damage> damages = {
        {"missing file", "C2_ezt_1_4_G.ezw", [](const std::string& p) { fs::remove(p); }, false},
        {"cut inside a record", "A1_ezt_1_2_R.ezw",
         [](const std::string& p) { truncate_file(p, int64_t(fs::file_size(p)) - 3); }, false},
        {"one record too many", "B2_ezt_1_3_B.ezw",
         [](const std::string& p) { append_file(p, tile_record(0, {}, {})); }, false},
        {"wrong merged size", "D1_ezt_1_5_R.ezw",
         [](const std::string& p) {
             patch_file(p, 4, {0, 4, 0, 0});
         },
         false},
        {"base texture of the wrong size", "B1_base_tex.pzd",
         [](const std::string& p) { write_file(p, raw_rgb_image(512, 1024, fixture_base_rgb, 1)); },
         false},
        {"base texture holding a stream pair", "A2_base_tex.pzd",
         [](const std::string& p) {
             write_file(p, raw_image_bytes(4, 2, 1, {1, 2, 3}));
         },
         false},
        {"minimap with an unknown ID", "minimap.pzd",
         [](const std::string& p) { patch_file(p, 0, {3}); }, false},
        // Threshold 200 with empty streams: the decoder runs out of symbols at once.
        {"streams that run short", "C1_ezt_1_2_G.ezw",
         [](const std::string& p) { patch_file(p, 24, {200}); }, true},
    };
    for (const auto& d : damages) {
        const std::string path = data + d.file;
        const Bytes original = read_file(path);
        d.apply(path);
        EXPECT_EQ(run_tool("verify --decode " + dir), 1) << d.what;
        EXPECT_EQ(run_tool("verify " + dir), d.needs_decode ? 0 : 1) << d.what;
        write_file(path, original);
    }
    EXPECT_EQ(run_tool("verify --decode " + dir), 0);
    EXPECT_EQ(run_tool("verify " + dir + "/nowhere"), 1);
    remove_tree(dir);
}

TEST(Import, ResamplesAPictureToTheWorldAndFitsOtherShapes) {
    const std::string dir = make_temp_dir("bld-import");
    // 2:1, left half red, right half blue.
    const std::string wide = write_png(
        dir, 64, 32, [](int x, int) -> uint32_t { return x < 32 ? 0xff0000u : 0x0000ffu; });
    ASSERT_EQ(run_tool("import " + wide + " --out " + dir + "/a --top-level 2 --subimages 1"), 0);
    EXPECT_EQ(base_mean(dir + "/a", 0), 0xff0000u);
    EXPECT_TRUE(verify_ok(dir + "/a", true));

    // A white square: letterboxed, the outer columns are black; covered, all is white.
    const std::string square =
        write_png(dir, 40, 40, [](int, int) -> uint32_t { return 0xffffffu; });
    ASSERT_EQ(run_tool("import " + square + " --out " + dir + "/b --top-level 1"), 0);
    EXPECT_EQ(base_mean(dir + "/b", 0), 0u);         // A1: left bar
    EXPECT_EQ(base_mean(dir + "/b", 1), 0xffffffu);  // B1: picture
    EXPECT_EQ(base_mean(dir + "/b", 7), 0u);         // D2: right bar
    ASSERT_EQ(run_tool("import " + square + " --out " + dir + "/c --top-level 1 --fit cover"), 0);
    for (int s = 0; s < 8; ++s) EXPECT_EQ(base_mean(dir + "/c", s), 0xffffffu) << s;

    // Native: pixel for pixel from the top-left corner, black beyond the picture; with a report.
    const std::string small = write_png(dir, 40, 24, [](int x, int y) -> uint32_t {
        return uint32_t(x * 6) << 16 | uint32_t(y * 10) << 8 | 0x33u;
    });
    ASSERT_EQ(run_tool("import " + small + " --out " + dir + "/n --top-level 1 --subimages 1 " +
                       "--fit native --report " + dir + "/n.tsv"),
              0);
    const Bytes base = read_file(dir + "/n/ezw_data/" + base_tex_name(0));
    auto px = [&](int x, int y) {
        const uint8_t* p = &base[9 + (size_t(y) * 1024 + x) * 3];
        return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    };
    EXPECT_EQ(px(0, 0), 0x000033u);
    EXPECT_EQ(px(39, 23), uint32_t(39 * 6) << 16 | uint32_t(23 * 10) << 8 | 0x33u);
    EXPECT_EQ(px(40, 0), 0u);
    EXPECT_EQ(px(0, 24), 0u);
    const Bytes tsv = read_file(dir + "/n.tsv");
    EXPECT_EQ(std::string(tsv.begin(), tsv.end()).rfind("quality\tlevel\tpixels", 0), 0u);

    // Nothing to read: an error and no data set.
    EXPECT_EQ(run_tool("import " + dir + "/missing.png --out " + dir + "/d"), 1);
    EXPECT_FALSE(fs::exists(dir + "/d/ezw_data"));
    remove_tree(dir);
}
