// Minimap, camera marker and crosshair.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/overlays.h"
#include "store/data_set.h"
#include "tests/render/render_test_util.h"

namespace {

constexpr uint32_t kBackground = 0x00123456;

class Overlays : public ::testing::Test {
  protected:
    void SetUp() override {
        load_fixture_once();
        saved_ = viewer_settings;
        viewer_settings.showMinimap = 1;
        viewer_settings.drawCrosshair = 0;
    }
    void TearDown() override { viewer_settings = saved_; }

    void frame(int w, int h) {
        set_frame(w, h);
        std::fill(frame_buffer, frame_buffer + size_t(w) * h, kBackground);
    }
    uint32_t at(int x, int y) const { return frame_buffer[size_t(y) * frame_width + x]; }
    uint32_t minimap_at(int x, int y) const {
        return reinterpret_cast<const uint32_t*>(minimap.data)[y * minimap.w + x];
    }
    int marked() const {
        int n = 0;
        for (int i = 0; i < frame_width * frame_height; ++i) n += frame_buffer[i] == kMarkerColour;
        return n;
    }

  private:
    ViewerSettings saved_;
};

}  // namespace

TEST_F(Overlays, MinimapIsCopiedOneToOneAndClippedToTheFrame) {
    ASSERT_EQ(minimap.w, 256);
    ASSERT_EQ(minimap.h, 128);
    place_camera(-90000.0f, 500.0f, -90000.0f);  // marker out of sight
    frame(512, 512);
    draw_overlays();
    for (int y : {0, 64, 127})
        for (int x : {0, 100, 255}) EXPECT_EQ(at(x, y), minimap_at(x, y)) << x << "," << y;
    EXPECT_EQ(at(256, 0), kBackground);
    EXPECT_EQ(at(0, 128), kBackground);

    frame(200, 120);  // narrower and lower than the minimap
    draw_overlays();
    EXPECT_EQ(at(199, 119), minimap_at(199, 119));
    EXPECT_EQ(at(199, 0), minimap_at(199, 0));
}

TEST_F(Overlays, MarkerShowsTheCameraOnTheMinimap) {
    frame(512, 512);
    place_camera(49152.0f, 500.0f, 16384.0f);  // the image centre
    draw_overlays();
    for (auto [x, y] : {std::pair{128, 64}, {129, 64}, {127, 64}, {128, 65}, {128, 63}})
        EXPECT_EQ(at(x, y), kMarkerColour) << x << "," << y;
    EXPECT_EQ(marked(), 5);

    frame(512, 512);
    place_camera(-16384.0f, 500.0f, -16384.0f);  // top-left corner: two arms are clipped
    draw_overlays();
    EXPECT_EQ(at(0, 0), kMarkerColour);
    EXPECT_EQ(at(1, 0), kMarkerColour);
    EXPECT_EQ(at(0, 1), kMarkerColour);
    EXPECT_EQ(marked(), 3);

    frame(512, 512);
    place_camera(-20000.0f, 500.0f, 0.0f);  // -7.06 truncates to -7: nothing visible
    draw_overlays();
    EXPECT_EQ(marked(), 0);

    frame(512, 512);
    place_camera(3e38f, 500.0f, -3e38f);  // absurd positions stay harmless
    draw_overlays();
    EXPECT_EQ(marked(), 0);
}

TEST_F(Overlays, CrosshairCoversTheMarkerAndObeysTheSwitches) {
    viewer_settings.drawCrosshair = 1;
    viewer_settings.showMinimap = 0;
    frame(512, 512);
    place_camera(49152.0f, 500.0f, 16384.0f);
    draw_overlays();
    EXPECT_EQ(at(128, 64), kBackground);  // no minimap, no marker
    for (auto [x, y] : {std::pair{256, 256}, {257, 256}, {255, 256}, {256, 257}, {256, 255}})
        EXPECT_EQ(at(x, y), kCrosshairColour) << x << "," << y;
    EXPECT_EQ(at(258, 256), kBackground);
    EXPECT_EQ(at(257, 257), kBackground);

    frame(101, 101);
    draw_overlays();
    EXPECT_EQ(at(50, 50), kCrosshairColour);
    EXPECT_EQ(at(51, 50), kCrosshairColour);

    // A tiny window: the crosshair is drawn last and wins over the marker.
    viewer_settings.showMinimap = 1;
    frame(4, 4);
    place_camera(-16384.0f + 512.0f * 2, 500.0f, -16384.0f + 512.0f * 2);  // marker (2, 2)
    draw_overlays();
    EXPECT_EQ(at(2, 2), kCrosshairColour);
}

TEST_F(Overlays, PlusArmsNeedTheCentreInsideTheFrame) {
    frame(10, 8);
    draw_plus(-1, 4, kMarkerColour);  // centre just left: not even the right arm
    draw_plus(10, 4, kMarkerColour);
    draw_plus(4, 8, kMarkerColour);
    EXPECT_EQ(marked(), 0);
    draw_plus(9, 7, kMarkerColour);  // bottom-right corner
    EXPECT_EQ(at(9, 7), kMarkerColour);
    EXPECT_EQ(at(8, 7), kMarkerColour);
    EXPECT_EQ(at(9, 6), kMarkerColour);
    EXPECT_EQ(marked(), 3);
}
