// Loading the whole data set, the buffers prepared for rendering, the release of everything, and
// the fatal exits of a broken data set.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/exit.h"
#include "app/frame_state.h"
#include "app/load.h"
#include "camera/camera.h"
#include "render/render_buffers.h"
#include "store/data_set.h"
#include "tests/store/console_capture.h"
#include "tests/support/fixture.h"

namespace fs = std::filesystem;

namespace {

using ::testing::ExitedWithCode;

class DataSet : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        fixture_ = new std::string(make_temp_dir("quorvik-dataset"));
        write_fixture_data_set(*fixture_);
    }
    static void TearDownTestSuite() {
        remove_tree(*fixture_);
        delete fixture_;
        fixture_ = nullptr;
    }
    void SetUp() override {
        saved_cwd_ = fs::current_path();
        work_ = make_temp_dir("quorvik-dataset-run");
    }
    void TearDown() override {
        fs::current_path(saved_cwd_);
        release_program_data();
        remove_tree(work_);
    }

    // A working directory whose ezw_data links every fixture file, so that a test can remove or
    // replace single files without touching the shared set.
    std::string linked_copy() {
        const std::string data = work_ + "/ezw_data";
        fs::create_directories(data);
        for (const auto& e : fs::directory_iterator(*fixture_ + "/ezw_data"))
            fs::create_symlink(e.path(), data + "/" + e.path().filename().string());
        return work_;
    }
    void replace(const std::string& name, const Bytes& bytes) {
        const std::string path = work_ + "/ezw_data/" + name;
        fs::remove(path);
        write_file(path, bytes);
    }
    // Runs load_data_set in `dir` with the progress lines silenced.
    static void load_in(const std::string& dir) {
        fs::current_path(dir);
        console_out = fopen("/dev/null", "w");
        load_data_set();
    }

    static std::string* fixture_;
    fs::path saved_cwd_;
    std::string work_;
};
std::string* DataSet::fixture_ = nullptr;

TEST_F(DataSet, LoadsEveryTableAndPreparesTheRenderBuffers) {
    fs::current_path(*fixture_);
    std::string log;
    {
        ConsoleCapture console;
        load_data_set();
        log = console.text();
    }
    size_t count = 0;
    for (size_t at = log.find("residuals_level[0][1].R->header.merged_w=2048\n");
         at != std::string::npos;
         at = log.find("residuals_level[0][1].R->header.merged_w=2048\n", at + 1))
        ++count;
    EXPECT_EQ(count, 8u);
    const std::string last = "\n\nloaded ezw files successfully\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);

    for (int i = 0; i < kSubImages; ++i) {
        SCOPED_TRACE(kSubImageNames[i]);
        for (int level : {0, 1}) {
            EXPECT_EQ(residuals_level[i][level].R, nullptr);
            EXPECT_EQ(residuals_level[i][level].G, nullptr);
            EXPECT_EQ(residuals_level[i][level].B, nullptr);
        }
        for (int level = 2; level <= 5; ++level)
            for (TileSet* set : {residuals_level[i][level].R, residuals_level[i][level].G,
                                 residuals_level[i][level].B}) {
                ASSERT_NE(set, nullptr);
                EXPECT_EQ(set->header.merged_w, 1024 << (level - 1));
                EXPECT_NE(set->index, nullptr);
                EXPECT_NE(set->data, nullptr);
            }
        EXPECT_EQ(base_tex[i].w, 1024);
        EXPECT_EQ(base_tex[i].h, 1024);
        EXPECT_EQ(base_tex[i].bpp, 3);
        EXPECT_EQ(base_tex[i].stride, 3072);
        const uint8_t* px = base_tex[i].data + 77 * 3072 + 300 * 3;
        EXPECT_EQ(uint32_t(px[0]) << 16 | uint32_t(px[1]) << 8 | px[2],
                  fixture_base_rgb(300, 77, i));
        EXPECT_EQ(base_tex_packed[i].w, 1024);
        EXPECT_EQ(base_tex_packed[i].h, 1024);
        EXPECT_EQ(base_tex_packed[i].bpp, 4);
        EXPECT_EQ(base_tex_packed[i].stride, 4096);
        EXPECT_NE(base_tex_packed[i].data, nullptr);
    }
    EXPECT_EQ(minimap.w, 256);
    EXPECT_EQ(minimap.h, 128);
    EXPECT_EQ(minimap.bpp, 4);
    EXPECT_EQ(minimap.stride, 1024);
    const uint32_t* mini = reinterpret_cast<const uint32_t*>(minimap.data);
    EXPECT_EQ(mini[100 * 256 + 200], fixture_minimap_rgb(200, 100, 0));
    EXPECT_EQ(mini[127 * 256 + 255], fixture_minimap_rgb(255, 127, 0));
    EXPECT_EQ(minimap_rect.x, 0);
    EXPECT_EQ(minimap_rect.y, 0);
    EXPECT_EQ(minimap_rect.w, 256);
    EXPECT_EQ(minimap_rect.h, 128);

    // A base texture pixel of 200, 100, 50 becomes one 0x00RRGGBB word.
    uint8_t* p = base_tex[2].data + 6 * 3072 + 5 * 3;
    p[0] = 200;
    p[1] = 100;
    p[2] = 50;
    {
        ConsoleCapture console;
        prepare_render_buffers();
        EXPECT_EQ(console.text(),
                  "rearrange bits for faster rendering\nrearranged bits for faster rendering\n");
    }
    const uint32_t* packed2 = reinterpret_cast<const uint32_t*>(base_tex_packed[2].data);
    EXPECT_EQ(packed2[6 * 1024 + 5], (200u << 16) | (100u << 8) | 50u);
    for (int i = 0; i < kSubImages; ++i) {
        const uint32_t* packed = reinterpret_cast<const uint32_t*>(base_tex_packed[i].data);
        EXPECT_EQ(packed[1023 * 1024 + 1023], fixture_base_rgb(1023, 1023, i));
        EXPECT_EQ(packed[513 * 1024 + 130], fixture_base_rgb(130, 513, i));
    }
    const float scale[6] = {64, 32, 16, 8, 4, 2};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(level_scale[k], scale[k]) << k;
    struct Work {
        const RawImage& image;
        int size;
    } work[] = {{residual_tile, 64}, {final_tile, 64}, {synth_a, 72}, {synth_b, 72}};
    for (const Work& w : work) {
        EXPECT_EQ(w.image.bpp, 4);
        EXPECT_EQ(w.image.w, w.size);
        EXPECT_EQ(w.image.h, w.size);
        EXPECT_EQ(w.image.stride, 4 * w.size);
        ASSERT_NE(w.image.data, nullptr);
        // The whole buffer is writable (sanitizer builds catch a short allocation).
        memset(w.image.data, 0x5A, size_t(w.size) * w.size * 4);
    }
}

TEST_F(DataSet, ReleaseIsSafeAtAnyPointAndTwice) {
    release_program_data();
    release_program_data();

    // Part-way: a camera, a frame buffer and a few levels of the first sub-image.
    ASSERT_TRUE(place_start_camera());
    ASSERT_TRUE(resize_frame_buffer(64, 64));
    fs::current_path(*fixture_);
    console_out = fopen("/dev/null", "w");
    load_residual_level("./ezw_data/A1_ezt_1_2_R.ezw", "./ezw_data/A1_ezt_1_2_G.ezw",
                        "./ezw_data/A1_ezt_1_2_B.ezw", residuals_level[0][2], 2);
    fclose(console_out);
    console_out = stdout;
    release_program_data();
    EXPECT_EQ(camera, nullptr);
    EXPECT_EQ(ipos, nullptr);
    EXPECT_EQ(frame_buffer, nullptr);
    EXPECT_EQ(residuals_level[0][2].R, nullptr);
    EXPECT_EQ(residuals_level[0][2].B, nullptr);
    release_program_data();

    // Everything loaded, released twice.
    {
        ConsoleCapture console;
        load_data_set();
        prepare_render_buffers();
    }
    release_program_data();
    for (int i = 0; i < kSubImages; ++i) {
        EXPECT_EQ(base_tex[i].data, nullptr);
        EXPECT_EQ(base_tex_packed[i].data, nullptr);
        for (int level = 2; level <= 5; ++level) EXPECT_EQ(residuals_level[i][level].G, nullptr);
    }
    EXPECT_EQ(minimap.data, nullptr);
    EXPECT_EQ(synth_b.data, nullptr);
    EXPECT_EQ(residual_tile.data, nullptr);
    release_program_data();
}

TEST_F(DataSet, MissingDirectoryFailsOnTheMinimap) {
    EXPECT_EXIT(load_in(work_), ExitedWithCode(1),
                "^could not open file \\./ezw_data/minimap\\.pzd\nfailed to load minimap!$");
}

TEST_F(DataSet, MissingTileFileStopsTheLoad) {
    const std::string dir = linked_copy();
    fs::remove(dir + "/ezw_data/C2_ezt_1_4_G.ezw");
    EXPECT_EXIT(load_in(dir), ExitedWithCode(1), "^failed to load  at least one ezw file!$");
}

TEST_F(DataSet, BrokenBaseTexturesAndMinimapFail) {
    const std::string dir = linked_copy();
    fs::remove(dir + "/ezw_data/D1_base_tex.pzd");
    EXPECT_EXIT(load_in(dir), ExitedWithCode(1),
                "^could not open file \\./ezw_data/D1_base_tex\\.pzd\nfailed to load file!$");

    replace("D1_base_tex.pzd", raw_image_bytes(4, 10, 6, Bytes(16)));
    EXPECT_EXIT(load_in(dir), ExitedWithCode(1),
                "D1_base_tex\\.pzd: file ID 4 holds no pixel image\nfailed to load file!$");

    replace("D1_base_tex.pzd", raw_rgb_image(512, 512, fixture_base_rgb, 3));
    EXPECT_EXIT(load_in(dir), ExitedWithCode(1),
                "D1_base_tex\\.pzd: base texture is 512 x 512, it must be 1024 x 1024\nfailed to "
                "load file!$");

    replace("minimap.pzd", raw_image_bytes(4, 0, 0, {}));
    EXPECT_EXIT(load_in(dir), ExitedWithCode(1), "failed to load minimap!$");
}

// A data set in any folder: its files are named in the log by the paths opened, the working
// directory is never changed, and the value moves without copying buffers.
TEST_F(DataSet, ReadsAnyFolderAndNamesItsFilesByThePathsOpened) {
    const fs::path cwd = fs::current_path();
    const std::string folder = *fixture_ + "/ezw_data";
    ::DataSet data;
    std::string log;
    {
        ConsoleCapture console;
        const LoadError e = read_data_set(folder, data);
        EXPECT_FALSE(bool(e)) << e.describe();
        log = console.text();
    }
    EXPECT_EQ(fs::current_path(), cwd);
    EXPECT_TRUE(data.complete());
    EXPECT_EQ(data.folder, folder);
    EXPECT_EQ(log.find("./ezw_data"), std::string::npos);
    EXPECT_EQ(log.rfind("rawin filename = " + folder + "/minimap.pzd\n", 0), 0u) << log;
    EXPECT_NE(log.find("filenames: " + folder + "/D2_ezt_1_5_R.ezw " + folder +
                       "/D2_ezt_1_5_G.ezw " + folder + "/D2_ezt_1_5_B.ezw\n"),
              std::string::npos);
    EXPECT_NE(log.find("rawin filename = " + folder + "/C1_base_tex.pzd\n"), std::string::npos);
    // The viewer's tables are not touched by a data set of one's own.
    EXPECT_EQ(residuals_level[0][2].R, nullptr);

    const uint8_t* pixels = data.base_tex[3].data;
    ::DataSet moved = std::move(data);
    EXPECT_EQ(moved.base_tex[3].data, pixels);
    EXPECT_TRUE(moved.complete());
    EXPECT_FALSE(data.complete());
    EXPECT_EQ(data.residuals[7][5].B, nullptr);
}

TEST_F(DataSet, FolderIsFoundFromItsParentOrGivenDirectly) {
    std::string why;
    EXPECT_EQ(find_data_folder(*fixture_, why), *fixture_ + "/ezw_data");
    EXPECT_EQ(find_data_folder(*fixture_ + "//", why), *fixture_ + "/ezw_data");
    EXPECT_EQ(find_data_folder(*fixture_ + "/ezw_data", why), *fixture_ + "/ezw_data");
    EXPECT_EQ(find_data_folder(*fixture_ + "/ezw_data/", why), *fixture_ + "/ezw_data");

    struct Bad {
        std::string dir, says;
    };
    fs::create_directories(work_ + "/empty");
    fs::create_directories(work_ + "/hollow/ezw_data");
    write_file(work_ + "/plain-file", Bytes(3));
    const Bad bad[] = {
        {work_ + "/absent", "no such folder"},
        {work_ + "/plain-file", "not a folder"},
        {work_ + "/empty", "holds no ezw_data/minimap.pzd"},
        {work_ + "/hollow", "without minimap.pzd"},
        {"", "no folder"},
    };
    for (const Bad& b : bad) {
        why.clear();
        EXPECT_EQ(find_data_folder(b.dir, why), "") << b.dir;
        EXPECT_NE(why.find(b.says), std::string::npos) << b.dir << ": " << why;
    }
}

}  // namespace
