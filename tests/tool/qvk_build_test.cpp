// One-file pictures written from row sources: every level against a plain reference pyramid,
// the streamed world against the folder form's, imports, interrupted builds, and the tool's build
// and verify.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <vips/vips8>

#include <filesystem>
#include <fstream>
#include <functional>

#include "builder/builder.h"
#include "builder/qvk_build.h"
#include "builder/source.h"
#include "decoder/qvk_tile.h"
#include "store/qvk_file.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = QUORVIK_TOOL_PATH;

struct Picture {
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> rgb;  // rows of w * 3 bytes
    uint8_t* at(uint32_t x, uint32_t y) { return &rgb[(size_t(y) * w + x) * 3]; }
    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgb[(size_t(y) * w + x) * 3]; }
};

// Noise with some structure, so that a wrong pixel anywhere shows.
Picture test_picture(uint32_t w, uint32_t h) {
    Picture p{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
    uint32_t s = w * 7919u + h;
    for (auto& b : p.rgb) {
        s = s * 1664525u + 1013904223u;
        b = uint8_t(s >> 24);
    }
    return p;
}

// The next level by the plain rule: the rounded mean of each 2 x 2 block, the last column or
// row standing in for the missing one at an odd edge.
Picture halve(const Picture& p) {
    Picture q{(p.w + 1) / 2, (p.h + 1) / 2, {}};
    q.rgb.resize(size_t(q.w) * q.h * 3);
    for (uint32_t y = 0; y < q.h; ++y)
        for (uint32_t x = 0; x < q.w; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint32_t x0 = 2 * x, x1 = std::min(2 * x + 1, p.w - 1);
                const uint32_t y0 = 2 * y, y1 = std::min(2 * y + 1, p.h - 1);
                const int sum =
                    p.at(x0, y0)[c] + p.at(x1, y0)[c] + p.at(x0, y1)[c] + p.at(x1, y1)[c];
                q.at(x, y)[c] = uint8_t((sum + 2) >> 2);
            }
    return q;
}

// A picture held in memory; checks that rows come top to bottom, each once.
class MemoryRows : public builder::RowSource {
  public:
    explicit MemoryRows(Picture p) : p_(std::move(p)) {}
    uint32_t width() const override { return p_.w; }
    uint32_t height() const override { return p_.h; }
    std::string describe() const override { return "test picture"; }
    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        EXPECT_EQ(y0, next_);
        next_ = y0 + n;
        if (on_rows) on_rows(y0);
        for (uint32_t i = 0; i < n; ++i)
            memcpy(rgb + i * stride, p_.at(0, y0 + i), size_t(p_.w) * 3);
    }
    std::function<void(uint32_t)> on_rows;

  private:
    Picture p_;
    uint32_t next_ = 0;
};

// Every level of a .qvk file, decoded, finest last.
std::vector<Picture> read_levels(const std::string& path) {
    std::string error;
    auto file = QvkFile::open(path, error);
    EXPECT_TRUE(file) << error;
    std::vector<Picture> levels;
    if (!file) return levels;
    for (int l = 1; l <= file->levels(); ++l) {
        const QvkLevel& v = file->level(l);
        Picture p{v.width, v.height, std::vector<uint8_t>(size_t(v.width) * v.height * 3)};
        std::vector<uint8_t> coded, px(64 * 64 * 4);
        for (uint32_t ty = 0; ty < v.tiles_y; ++ty)
            for (uint32_t tx = 0; tx < v.tiles_x; ++tx) {
                const uint32_t w = std::min(64u, v.width - tx * 64),
                               h = std::min(64u, v.height - ty * 64);
                EXPECT_TRUE(file->read_tile(l, tx, ty, coded, error)) << error;
                EXPECT_TRUE(decode_qvk_tile(file->header().coder, coded.data(), coded.size(),
                                            int(w), int(h), px.data(), 256));
                for (uint32_t y = 0; y < h; ++y)
                    for (uint32_t x = 0; x < w; ++x)
                        memcpy(p.at(tx * 64 + x, ty * 64 + y), &px[size_t(y) * 256 + x * 4], 3);
            }
        levels.push_back(std::move(p));
    }
    return levels;
}

builder::QvkBuildOptions options(const std::string& out, int threads) {
    builder::QvkBuildOptions opt;
    opt.out = out;
    opt.threads = threads;
    opt.progress = false;
    return opt;
}

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int run_tool(const std::string& args, std::string* output = nullptr) {
    const std::string out = fs::temp_directory_path() / ("qvk-tool-" + std::to_string(getpid()));
    const int st = std::system((kTool + " " + args + " >" + out + " 2>&1").c_str());
    if (output) {
        std::ifstream in(out);
        output->assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove(out);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace

TEST(QvkBuild, EveryLevelIsTheSourceOrItsBoxHalvingForAwkwardSizes) {
    const std::string dir = make_temp_dir("qvk-sizes");
    struct Case {
        uint32_t w, h;
        int levels;
    };
    // One pixel; one tile and a row over; a wide sliver; several tiles with odd sides; a tall
    // picture whose coarser levels fill over many strips and end on an odd row.
    const Case cases[] = {{1, 1, 1}, {63, 65, 2}, {1000, 3, 5}, {333, 197, 4}, {130, 4000, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const Picture src = test_picture(c.w, c.h);
        MemoryRows rows(src);
        builder::QvkBuildOptions opt = options(dir + "/p.qvk", 2);
        opt.quality = 37;
        const builder::QvkBuildReport r = builder::build_qvk(rows, opt);
        EXPECT_EQ(r.levels, c.levels);
        EXPECT_EQ(r.bytes, fs::file_size(dir + "/p.qvk"));
        EXPECT_DOUBLE_EQ(r.bits_per_pixel(), 8.0 * double(r.bytes) / (double(c.w) * c.h));
        const std::vector<Picture> levels = read_levels(dir + "/p.qvk");
        ASSERT_EQ(int(levels.size()), c.levels);
        Picture want = src;
        for (int l = c.levels; l >= 1; --l) {
            EXPECT_EQ(levels[size_t(l) - 1].w, want.w) << "level " << l;
            EXPECT_EQ(levels[size_t(l) - 1].h, want.h) << "level " << l;
            EXPECT_TRUE(levels[size_t(l) - 1].rgb == want.rgb) << "level " << l;
            want = halve(want);
        }
        std::string error;
        EXPECT_EQ(QvkFile::open(dir + "/p.qvk", error)->header().coder_param, 37u);
    }
    EXPECT_EQ(listing(dir), std::vector<std::string>{"p.qvk"});
    remove_tree(dir);
}

TEST(QvkBuild, TheFileIsTheSameForAnyNumberOfThreads) {
    const std::string dir = make_temp_dir("qvk-threads");
    for (int threads : {1, 3}) {
        MemoryRows rows(test_picture(517, 300));
        builder::build_qvk(rows, options(dir + "/t" + std::to_string(threads) + ".qvk", threads));
    }
    EXPECT_TRUE(read_file(dir + "/t1.qvk") == read_file(dir + "/t3.qvk"));
    remove_tree(dir);
}

TEST(QvkBuild, AStoppedOrFailedBuildLeavesNoFileAndKeepsTheOldOne) {
    const std::string dir = make_temp_dir("qvk-stop");
    const std::string out = dir + "/p.qvk";
    write_file(out, Bytes{'o', 'l', 'd'});
    struct Case {
        const char* what;
        std::function<void(uint32_t)> on_rows;
        bool interrupted;
    };
    const Case cases[] = {
        {"interrupt after two strips",
         [](uint32_t y0) {
             if (y0 == 128) builder::interrupt_requested = true;
         },
         true},
        {"source fails",
         [](uint32_t y0) {
             if (y0 == 192) throw std::runtime_error("disk gone");
         },
         false},
    };
    for (const Case& c : cases) {
        MemoryRows rows(test_picture(200, 1000));
        rows.on_rows = c.on_rows;
        if (c.interrupted)
            EXPECT_THROW(builder::build_qvk(rows, options(out, 2)), builder::BuildInterrupted)
                << c.what;
        else
            EXPECT_THROW(builder::build_qvk(rows, options(out, 2)), std::runtime_error) << c.what;
        builder::interrupt_requested = false;
        EXPECT_EQ(listing(dir), std::vector<std::string>{"p.qvk"}) << c.what;
        EXPECT_TRUE(read_file(out) == (Bytes{'o', 'l', 'd'})) << c.what;
    }
    // A folder that cannot be written: a readable error naming it.
    MemoryRows rows(test_picture(10, 10));
    try {
        builder::build_qvk(rows, options(dir + "/missing/p.qvk", 1));
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(dir + "/missing/p.qvk"), std::string::npos)
            << e.what();
    }
    remove_tree(dir);
}

// All of a row source, read in strips of `strip` rows.
std::vector<uint8_t> read_all(builder::RowSource& src, uint32_t strip) {
    std::vector<uint8_t> px(size_t(src.width()) * src.height() * 3);
    for (uint32_t y = 0; y < src.height(); y += strip)
        src.rows(y, std::min(strip, src.height() - y), &px[size_t(y) * src.width() * 3],
                 size_t(src.width()) * 3);
    return px;
}

TEST(WorldRows, AreTheFolderWorldsPixelsForAnyStripsAndThreads) {
    // Level 1 (the folder's 1024-pixel sub-images) and level 2 (2048), the latter across the
    // band boundary of two threads and across two sub-images.
    struct Case {
        uint32_t w, h;
        int sub_size;
    };
    builder::Pool pool(2);
    auto folder = builder::make_world_source(1);
    std::vector<uint8_t> seed1_small;
    for (const Case& c : {Case{300, 200, 1024}, Case{4100, 40, 2048}}) {
        SCOPED_TRACE(c.sub_size);
        auto one = builder::make_world_rows(1, c.w, c.h, 1);
        auto two = builder::make_world_rows(1, c.w, c.h, 2);
        const std::vector<uint8_t> a = read_all(*one, 64), b = read_all(*two, 7);
        EXPECT_TRUE(a == b);
        if (c.w == 300) seed1_small = a;
        builder::Planes sub[2];
        int differ = 0;
        for (uint32_t x = 0; x < std::min(c.w, uint32_t(2 * c.sub_size)); ++x) {
            const int s = int(x) / c.sub_size;
            if (sub[s].w == 0) folder->sub_image(s, c.sub_size, sub[s], pool);
            for (uint32_t y = 0; y < c.h; ++y)
                for (int ch = 0; ch < 3; ++ch)
                    differ += a[(size_t(y) * c.w + x) * 3 + size_t(ch)] !=
                              sub[s].at(ch, int(x) % c.sub_size, int(y))[0];
        }
        EXPECT_EQ(differ, 0);
    }
    auto other = builder::make_world_rows(2, 300, 200, 2);
    EXPECT_FALSE(read_all(*other, 64) == seed1_small);
    EXPECT_THROW(builder::make_world_rows(1, 0, 10), std::invalid_argument);
    EXPECT_THROW(builder::make_world_rows(1, 10, (1u << 21) + 1), std::invalid_argument);
}

TEST(ImageRows, APictureComesBackExactlyAndAlphaAndGreyAreConverted) {
    const std::string dir = make_temp_dir("qvk-import");
    if (VIPS_INIT("quorvik-test") != 0) FAIL() << "libvips";
    const Picture src = test_picture(150, 70);
    struct Case {
        const char* what;
        int bands;
        std::function<uint32_t(const uint8_t* in)> expect;  // 0xRRGGBB from the file's pixel
    };
    const Case cases[] = {
        {"RGB", 3, [](const uint8_t* p) { return uint32_t(p[0]) << 16 | p[1] << 8 | p[2]; }},
        {"grey", 1, [](const uint8_t* p) { return uint32_t(p[0]) * 0x010101u; }},
        // Alpha only 0 or 255: flattened onto black, the pixel or nothing.
        {"RGBA", 4,
         [](const uint8_t* p) { return p[3] ? uint32_t(p[0]) << 16 | p[1] << 8 | p[2] : 0u; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> px(size_t(src.w) * src.h * size_t(c.bands));
        for (size_t i = 0; i < px.size(); ++i) px[i] = src.rgb[i % src.rgb.size()];
        if (c.bands == 4)
            for (size_t i = 3; i < px.size(); i += 4) px[i] = px[i] & 1 ? 255 : 0;
        const std::string png = dir + "/in.png";
        vips::VImage::new_from_memory(px.data(), px.size(), int(src.w), int(src.h), c.bands,
                                      VIPS_FORMAT_UCHAR)
            .write_to_file(png.c_str());
        auto rows = builder::make_image_rows(png);
        ASSERT_EQ(rows->width(), src.w);
        ASSERT_EQ(rows->height(), src.h);
        builder::build_qvk(*rows, options(dir + "/out.qvk", 2));
        const Picture got = read_levels(dir + "/out.qvk").back();
        int differ = 0;
        for (size_t i = 0; i < size_t(src.w) * src.h; ++i) {
            const uint8_t* g = &got.rgb[i * 3];
            differ +=
                (uint32_t(g[0]) << 16 | g[1] << 8 | g[2]) != c.expect(&px[i * size_t(c.bands)]);
        }
        EXPECT_EQ(differ, 0);
    }
    // Nothing to read, or not a picture: an error naming the file.
    write_file(dir + "/text.png", Bytes{'h', 'i'});
    for (const std::string& bad : {dir + "/missing.png", dir + "/text.png"}) {
        try {
            builder::make_image_rows(bad);
            ADD_FAILURE() << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("cannot read " + bad + ": ", 0), 0u) << e.what();
        }
    }
    remove_tree(dir);
}

TEST(QvkTool, BuildsAWorldOfAnySizeAndVerifyFindsDamage) {
    const std::string dir = make_temp_dir("qvk-tool");
    const std::string out = dir + "/w.qvk";
    ASSERT_EQ(
        run_tool("build --out " + out + " --size 300x200 --threads 2 --report " + dir + "/r.tsv"),
        0);
    std::string text;
    EXPECT_EQ(run_tool("verify " + out, &text), 0) << text;
    EXPECT_NE(text.find("OK"), std::string::npos) << text;
    const Bytes tsv = read_file(dir + "/r.tsv");
    // The default coder: one 512-pixel HTJ2K tile, the coarser levels derived from it.
    EXPECT_NE(std::string(tsv.begin(), tsv.end()).find(out + "\t300\t200\t1\t1\t"),
              std::string::npos);

    // The last byte of the file is the end of a tile: flip it.
    const Bytes good = read_file(out);
    Bytes bad = good;
    bad.back() ^= 0x55;
    write_file(out, bad);
    EXPECT_EQ(run_tool("verify " + out, &text), 1);
    EXPECT_NE(text.find(out + ": tile "), std::string::npos) << text;
    EXPECT_NE(text.find("FAILED: 1 damaged tile"), std::string::npos) << text;
    truncate_file(out, 100);
    EXPECT_EQ(run_tool("verify " + out, &text), 1);
    EXPECT_EQ(text.rfind("quorvik-tool: " + out + ": ", 0), 0u) << text;

    // Usage errors, and nothing written for them.
    for (const std::string& args :
         {"build --out " + dir + "/a.qvk --size 0x10", "build --out " + dir + "/a.qvk --size 300",
          "build --out " + dir + "/a.qvk --size 2097153x1",
          "build --out " + dir + " --size 300x200",
          "import " + dir + "/r.tsv --out " + dir + "/a.qvk --fit native",
          "import " + dir + "/r.tsv --out " + dir + "/a.qvk"})
        EXPECT_NE(run_tool(args), 0) << args;
    EXPECT_EQ(listing(dir), (std::vector<std::string>{"r.tsv", "w.qvk"}));
    remove_tree(dir);
}
