// The viewer on a one-file picture: the start view shows the whole picture, --view opens a given
// view and v prints it back, frames equal quorvik-tool's rendering of the same camera, and a
// damaged tile is named once and drawn from a coarser level while the viewer goes on.
#include <string>
#include <vector>

#include "store/qvk_file.h"
#include "tests/e2e/harness.h"
#include "tests/support/fixture.h"

namespace {

constexpr uint32_t kW = 5000, kH = 3000;  // several levels, partial tiles at both edges

struct PictureRun {
    e2e::Session s{[] {
        e2e::SessionOptions o;
        o.fixture = false;
        return o;
    }()};
    std::string file;
    PictureRun() {
        file = s.workdir() + "/picture.qvk";
        write_fixture_picture(file, kW, kH);
    }
    unsigned long start(const std::vector<std::string>& args) {
        if (!s.start(args) || !s.wait_until_running()) {
            ADD_FAILURE() << "the viewer did not start: " << s.err();
            return 0;
        }
        return s.viewer_window();
    }
    // The window's frame against the tool's for camera (x, y, z), retried until they agree.
    int differing(unsigned long window, float x, float y, float z) {
        const e2e::Image expected = e2e::render_with_tool(file, s.workdir(), x, y, z, 512, 512);
        int diff = -1;
        for (int waited = 0; waited <= 5000; waited += 100) {
            diff = e2e::differing_pixels(s.screenshot(window), expected);
            if (diff == 0) break;
            e2e::sleep_ms(100);
        }
        return diff;
    }
    void quit() {
        s.key("q");
        EXPECT_TRUE(s.wait_exit().exited_with(0));
    }
};

TEST(PictureFile, StartsOnTheWholePictureAndOpensAGivenView) {
    QUORVIK_E2E_REQUIRE_X();
    {
        PictureRun run;
        const unsigned long w = run.start({"picture.qvk"});
        ASSERT_NE(w, 0u);
        EXPECT_NE(run.s.out().find("opened picture.qvk: 5000 x 3000 pixels, 8 levels"),
                  std::string::npos)
            << run.s.out();
        // The whole picture, centred: 10000 world units across a 512-pixel window.
        EXPECT_EQ(run.differing(w, 5000, 10000, 3000), 0);
        run.quit();
    }
    PictureRun run;
    const unsigned long w = run.start({"picture.qvk", "--view", "1234.5,2000,1.5"});
    ASSERT_NE(w, 0u);
    // Pixel (1234.5, 2000) is world (2469, 4000); 1.5 screen pixels per picture pixel in a
    // 512-pixel window is height 2 * 512 / 1.5.
    EXPECT_EQ(run.differing(w, 2469, float(2.0 * 512 / 1.5), 4000), 0);
    run.s.key("v", 150);
    EXPECT_TRUE(run.s.wait_for_output("quorvik picture.qvk --view 1234.5,2000,1.5\n"))
        << run.s.out();
    run.quit();
}

TEST(PictureFile, ADamagedTileIsNamedOnceAndDrawnFromTheLevelAbove) {
    QUORVIK_E2E_REQUIRE_X();
    PictureRun run;
    // Damage finest-level tile (39, 23), which the view below shows.
    {
        std::string error;
        auto f = QvkFile::open(run.file, error);
        ASSERT_TRUE(f) << error;
        const QvkLevel& finest = f->level(f->levels());
        const QvkPageRef ref = qvk_page_of(finest, 39, 23);
        Bytes page(ref.bytes);
        const Bytes all = read_file(run.file);
        std::copy(all.begin() + int64_t(ref.offset), all.begin() + int64_t(ref.offset + ref.bytes),
                  page.begin());
        const QvkTileEntry e = qvk_page_entry(page.data(), ref.slot);
        patch_file(run.file, int64_t(e.offset + e.length / 2),
                   {uint8_t(all[e.offset + e.length / 2] ^ 0x5a)});
    }
    const unsigned long w = run.start({"picture.qvk", "--view", "2525,1500,2"});
    ASSERT_NE(w, 0u);
    EXPECT_TRUE(run.s.wait_for_output(
        "warning: picture.qvk: tile 8/39,23: tile checksum mismatch; drawn from level 7\n", 5000,
        true))
        << run.s.err();
    EXPECT_EQ(run.differing(w, 5050, 512, 3000), 0);
    // Frames keep coming and the tile is not named again.
    run.s.key("Right", 300);
    e2e::sleep_ms(300);
    const std::string err = run.s.err();
    EXPECT_EQ(err.find("tile 8/39,23"), err.rfind("tile 8/39,23")) << err;
    run.quit();
}

}  // namespace
