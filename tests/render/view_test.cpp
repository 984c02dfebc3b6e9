// Level choice, the view rectangle and tile range, world tile lookup and whole frames.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/kernels.h"
#include "render/overlays.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/view.h"
#include "tests/render/render_test_util.h"

namespace {

class SettingsGuard {
  public:
    SettingsGuard() : saved_(viewer_settings), kernels_(kernels()) {}
    ~SettingsGuard() {
        viewer_settings = saved_;
        set_kernels(kernels_);
    }

  private:
    ViewerSettings saved_;
    PixelKernels kernels_;
};

void draw(float x, float y, float z) {
    place_camera(x, y, z);
    build_view_matrix();
    render_view();
}

}  // namespace

TEST(ChooseLevel, StrictThresholdsAndAlwaysFinest) {
    SettingsGuard guard;
    viewer_settings.hiqu = 0;
    EXPECT_EQ(choose_level(3750.5f), 1);
    EXPECT_EQ(choose_level(3750.0f), 2);
    EXPECT_EQ(choose_level(2250.0f), 3);
    EXPECT_EQ(choose_level(1250.5f), 3);
    EXPECT_EQ(choose_level(626.0f), 4);
    EXPECT_EQ(choose_level(625.0f), 5);
    EXPECT_EQ(choose_level(100.0f), 5);
    viewer_settings.hiqu = 1;
    EXPECT_EQ(choose_level(5000.0f), 5);
}

TEST(ViewRect, StartPoseAtHeight1000CoversTiles62To65) {
    place_camera(0.0f, 1000.0f, 0.0f);
    set_frame(512, 512);
    ViewRect r{};
    ASSERT_TRUE(compute_view_rect(1000.0f, 0.0f, 0.0f, *istr, *iup, *ifor, half_width_factor,
                                  half_height_factor, 4.0f, r));
    EXPECT_EQ(r.x0, 3971.0f);
    EXPECT_EQ(r.z0, 3971.0f);
    EXPECT_EQ(r.x1, 4221.0f);
    EXPECT_EQ(r.z1, 4221.0f);
    const TileRange t = compute_tile_range(r);
    EXPECT_EQ(t.tx0, 62);
    EXPECT_EQ(t.tx1, 66);
    EXPECT_EQ(t.tz0, 62);
    EXPECT_EQ(t.tz1, 66);
}

TEST(ViewRect, FollowsTheWindowShape) {
    place_camera(1000.0f, 2000.0f, 500.0f);
    for (auto [w, h, across, down] :
         {std::tuple{400, 800, 2000.0f, 4000.0f}, std::tuple{800, 400, 4000.0f, 2000.0f}}) {
        set_frame(w, h);
        ViewRect r{};
        ASSERT_TRUE(compute_view_rect(2000.0f, 1000.0f, 500.0f, *istr, *iup, *ifor,
                                      half_width_factor, half_height_factor, 1.0f, r));
        EXPECT_NEAR(r.x1 - r.x0, across, 0.01) << w << "x" << h;
        EXPECT_NEAR(r.z1 - r.z0, down, 0.01) << w << "x" << h;
        EXPECT_NEAR((r.x0 + r.x1) / 2, 1000.0f + 16384.0f, 0.01);
        EXPECT_NEAR((r.z0 + r.z1) / 2, 500.0f + 16384.0f, 0.01);
    }
}

TEST(ViewRect, NonFiniteCornersAreRejectedAndLeaveABlackFrame) {
    const Vec4 right{1, 0, 0, 0}, up{0, 0, 1, 0};
    const Vec4 level{0, 0, 1, 0};  // looking at the horizon: the divisor is zero
    ViewRect r{1, 2, 3, 4};
    EXPECT_FALSE(compute_view_rect(500.0f, 0.0f, 0.0f, right, up, level, 0.5f, 0.5f, 2.0f, r));
    EXPECT_EQ(r.x0, 1.0f);
    const float inf = std::numeric_limits<float>::infinity();
    // The camera's axes are read below; when this test runs on its own no earlier test made it.
    place_camera(0.0f, 1000.0f, 0.0f);
    EXPECT_FALSE(compute_view_rect(inf, 0.0f, 0.0f, *istr, *iup, *ifor, 0.5f, 0.5f, 2.0f, r));

    load_fixture_once();
    set_frame(64, 64);
    const Vec4 saved_forward = *ifor, saved_up = *iup;
    *ifor = level;
    *iup = up;
    draw(49152.0f, 500.0f, 16384.0f);
    *ifor = saved_forward;
    *iup = saved_up;
    EXPECT_EQ(tiles_drawn, 0);
    for (uint32_t p : frame_copy()) ASSERT_EQ(p, 0u);
}

TEST(TileRange, TruncatesTowardZeroAndStaysDefinedFarAway) {
    EXPECT_EQ(compute_tile_range(ViewRect{-30.0f, 10.0f, 100.0f, 200.0f}).tx0, 0);
    EXPECT_EQ(compute_tile_range(ViewRect{-100.0f, 10.0f, 100.0f, 200.0f}).tx0, -1);
    const TileRange t = compute_tile_range(ViewRect{10.0f, 10.0f, 128.0f, 127.9f});
    EXPECT_EQ(t.tx1, 3);  // floor(128 / 64) + 1: the tile starting at the edge is visited
    EXPECT_EQ(t.tz1, 2);
    const TileRange far = compute_tile_range(ViewRect{-1e30f, -1e30f, 1e30f, 1e30f});
    EXPECT_LT(far.tx0, 0);
    EXPECT_GT(far.tx1, 1 << 20);
}

TEST(WorldTile, MapsToSubImageAndIndexSlot) {
    const WorldTile w = locate_world_tile(33, 40, 32, 32);
    EXPECT_EQ(w.sub, 5);
    EXPECT_EQ(w.tc, 1);
    EXPECT_EQ(w.tr, 8);
    EXPECT_EQ(w.index, 257);
    const WorldTile last = locate_world_tile(4 * 256 - 1, 2 * 256 - 1, 256, 256);
    EXPECT_EQ(last.sub, 7);
    EXPECT_EQ(last.index, 256 * 256 - 1);
}

TEST(RenderView, RaisesTheCameraToTheMinimumHeight) {
    SettingsGuard guard;
    load_fixture_once();
    set_frame(128, 128);
    draw(49152.0f, 80.0f, 16384.0f);
    EXPECT_EQ(ipos->y, 100.0f);
    EXPECT_EQ(current_level, 5);
    EXPECT_EQ(current_scale, 2.0f);
    draw(49152.0f, 100.0f, 16384.0f);
    EXPECT_EQ(ipos->y, 100.0f);
}

TEST(RenderView, VisitsTheTileRangeInsideTheGrid) {
    SettingsGuard guard;
    load_fixture_once();
    set_frame(512, 512);
    draw(0.0f, 1000.0f, 0.0f);
    EXPECT_EQ(current_level, 4);
    EXPECT_EQ(tiles_across, 128);
    EXPECT_EQ(tiles_down, 128);
    EXPECT_EQ(tiles_drawn, 16);
    // At the world's top-left corner three quarters of the range lie outside the grid.
    draw(-16384.0f, 1000.0f, -16384.0f);
    EXPECT_LT(tile_range.tx0, 0);
    EXPECT_EQ(tiles_drawn, (tile_range.tx1) * (tile_range.tz1));
    const auto f = frame_copy();
    EXPECT_EQ(f[100 * 512 + 100], 0u);  // left of and above the image
    EXPECT_EQ(f[400 * 512 + 100], 0u);  // left of the image
    EXPECT_NE(f[400 * 512 + 400], 0u);  // inside sub-image A1
    // Level 1 draws without tiles.
    draw(49152.0f, 4000.0f, 16384.0f);
    EXPECT_EQ(current_level, 1);
    EXPECT_EQ(tiles_drawn, 0);
}

TEST(RenderView, FastAndPlainRoutinesDrawIdenticalFrames) {
    SettingsGuard guard;
    load_fixture_once();
    struct View {
        int w, h;
        float x, y, z;
        int bilinear, residuals, hiqu;
    };
    const View views[] = {
        {512, 512, 49152, 4000, 16384, 1, 1, 0},      // level 1 across four sub-images
        {301, 203, -16380, 200000, -16000, 1, 1, 0},  // level 1, image edge on fractions
        {512, 512, 40000, 3000, 10000, 1, 1, 0},      // level 2
        {333, 517, 30000, 2000, -16000, 0, 1, 0},     // level 3, nearest, top edge
        {640, 480, -16000, 1000, 20000, 1, 0, 0},     // level 4, left edge, no residuals
        {701, 301, 48152, 150, 16000, 1, 1, 0},       // level 5 on a sub-image border
        {256, 256, 10000, 1200, 10000, 1, 1, 1},      // always finest
        {160, 900, 114000, 500, 48900, 1, 1, 0},      // bottom-right corner of the world
    };
    for (const View& v : views) {
        set_frame(v.w, v.h);
        viewer_settings.bilinIpol = v.bilinear;
        viewer_settings.compressedResidue = v.residuals;
        viewer_settings.hiqu = v.hiqu;
        force_reference_kernels(false);
        draw(v.x, v.y, v.z);
        const auto fast = frame_copy();
        const int drawn = tiles_drawn;
        force_reference_kernels(true);
        draw(v.x, v.y, v.z);
        const auto plain = frame_copy();
        EXPECT_EQ(drawn, tiles_drawn);
        size_t differing = 0, first = 0;
        for (size_t i = 0; i < fast.size(); ++i)
            if (fast[i] != plain[i] && differing++ == 0) first = i;
        EXPECT_EQ(differing, 0u) << "view at " << v.x << "," << v.y << "," << v.z << " first at ("
                                 << first % v.w << ", " << first / v.w << ")";
    }
}

TEST(RenderView, RepeatedFramesAreIdentical) {
    SettingsGuard guard;
    load_fixture_once();
    set_frame(300, 200);
    draw(20000.0f, 700.0f, 5000.0f);
    draw_overlays();
    const auto first = frame_copy();
    draw(20000.0f, 700.0f, 5000.0f);
    draw_overlays();
    EXPECT_EQ(first, frame_copy());
}
