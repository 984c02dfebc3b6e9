// Mouse navigation: dragging keeps the ground point under the pointer, the wheel zooms about the
// pointer within its height limits, and both end a running flight; Home flies to the start.
#include <gtest/gtest.h>

#include "app/frame_state.h"
#include "app/navigation.h"
#include "app/settings.h"
#include "camera/flight.h"
#include "store/data_set.h"
#include "store/format.h"

namespace {

class Navigation : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(place_start_camera());
        viewer_settings = ViewerSettings();
        flight_running = 0;
        minimap_rect = MinimapRect{0, 0, 256, 128};
        set_window(512, 512);
        pointer_released();
    }
    void TearDown() override {
        delete camera;
        camera = nullptr;
    }
    static void set_window(int w, int h) {
        frame_width = w;
        frame_height = h;
        compute_window_shape(w, h, 4 * w, w);
    }
    // The ground point shown at the centre of window pixel (px, py), as the renderer maps it.
    static double ground_x(int px) {
        return ipos->x + (px + 0.5 - frame_width / 2.0) * ipos->y / focal_length;
    }
    static double ground_z(int py) {
        return ipos->z + (py + 0.5 - frame_height / 2.0) * ipos->y / focal_length;
    }
};

TEST_F(Navigation, DragKeepsTheGroundPointUnderThePointer) {
    // At the start height one pixel is 504 / 512 = 63/64 world units: every step is exact.
    const double gx = ground_x(300), gz = ground_z(300);
    pointer_pressed(300, 300);
    ASSERT_TRUE(drag_active());
    pointer_moved(310, 305);
    pointer_moved(250, 420);
    EXPECT_EQ(ground_x(250), gx);
    EXPECT_EQ(ground_z(420), gz);
    EXPECT_EQ(ipos->x, 111081.0f + 50 * 63.0f / 64);
    EXPECT_EQ(ipos->z, 32424.0f - 120 * 63.0f / 64);
    EXPECT_EQ(ipos->y, 504.0f);

    // Passing over the minimap is still the drag.
    pointer_moved(100, 50);
    EXPECT_EQ(ground_x(100), gx);
    EXPECT_EQ(ground_z(50), gz);

    // After the release, moves pan no more.
    pointer_released();
    EXPECT_FALSE(drag_active());
    const float x = ipos->x, z = ipos->z;
    pointer_moved(400, 400);
    EXPECT_EQ(ipos->x, x);
    EXPECT_EQ(ipos->z, z);

    // Where a pixel spans another distance, the drag follows it.
    camera->set_position(0, 2000, 0);
    set_window(800, 600);
    pointer_pressed(700, 500);
    pointer_moved(100, 200);
    EXPECT_NEAR(ipos->x, 600 * 2000.0 / 600.0, 1e-2);
    EXPECT_NEAR(ipos->z, 300 * 2000.0 / 600.0, 1e-2);
}

TEST_F(Navigation, APressOnTheMinimapIsAClickAndNeverPans) {
    pointer_pressed(10, 10);
    EXPECT_FALSE(drag_active());
    pointer_moved(300, 300);
    EXPECT_EQ(ipos->x, 111081.0f);
    EXPECT_EQ(ipos->z, 32424.0f);
    EXPECT_TRUE(minimap_hit(255, 127));
    EXPECT_FALSE(minimap_hit(256, 127));
    EXPECT_FALSE(minimap_hit(255, 128));

    // With the minimap hidden there is no minimap to click: the same press drags.
    viewer_settings.showMinimap = 0;
    EXPECT_FALSE(minimap_hit(10, 10));
    pointer_pressed(10, 10);
    EXPECT_TRUE(drag_active());
    pointer_moved(74, 10);
    EXPECT_EQ(ipos->x, 111081.0f - 63.0f);
}

TEST_F(Navigation, DragAndWheelEndARunningFlightButAStillPressDoesNot) {
    camera->set_position(5000, 800, 6000);
    start_flight_to(0, 0);
    ASSERT_EQ(flight_running, 1);
    pointer_pressed(300, 300);
    EXPECT_EQ(flight_running, 1) << "a press alone does not stop the flight";
    pointer_moved(301, 300);
    EXPECT_EQ(flight_running, 0);
    pointer_released();

    start_flight_to(0, 0);
    zoom_at(256, 256, 1);
    EXPECT_EQ(flight_running, 0);
    zoom_at(256, 256, 0);  // no notch: nothing at all
    EXPECT_EQ(flight_running, 0);
}

TEST_F(Navigation, WheelZoomsAboutThePointer) {
    const double gx = ground_x(400), gz = ground_z(100);
    zoom_at(400, 100, 1);
    EXPECT_FLOAT_EQ(ipos->y, 504.0f * 0.8f);
    EXPECT_NEAR(ground_x(400), gx, 1e-2);
    EXPECT_NEAR(ground_z(100), gz, 1e-2);
    zoom_at(400, 100, -1);
    EXPECT_NEAR(ipos->y, 504.0, 1e-3);
    EXPECT_NEAR(ground_x(400), gx, 1e-2);
    EXPECT_NEAR(ground_z(100), gz, 1e-2);

    // At the window's centre only the height changes.
    camera->set_position(1000, 1000, 2000);
    zoom_at(255, 255, 1);  // the pixel whose far corner is the centre: half a pixel off
    EXPECT_NEAR(ipos->x, 1000 - 0.5 * 200.0 / 512, 1e-3);
    EXPECT_NEAR(ipos->z, 2000 - 0.5 * 200.0 / 512, 1e-3);
}

TEST_F(Navigation, WheelStaysBetweenHeight100AndTheWholeImage) {
    // 512 x 512: the image's width decides; it fits the window at height 131072.
    EXPECT_EQ(max_view_height(), 131072.0f);
    // 800 x 600: 131072 world units across 800 pixels at 600 pixels' focal length.
    set_window(800, 600);
    EXPECT_EQ(max_view_height(), 98304.0f);
    // 300 x 600: the image's width still decides (2:1 image, 1:2 window).
    set_window(300, 600);
    EXPECT_EQ(max_view_height(), 131072.0f);
    set_window(512, 512);

    const double gx = ground_x(20), gz = ground_z(500);
    for (int i = 0; i < 12; ++i) {
        zoom_at(20, 500, 1);
        EXPECT_GE(ipos->y, 100.0f);
        EXPECT_NEAR(ground_x(20), gx, 0.05);
        EXPECT_NEAR(ground_z(500), gz, 0.05);
    }
    EXPECT_EQ(ipos->y, 100.0f);

    for (int i = 0; i < 40; ++i) zoom_at(500, 30, -1);
    EXPECT_EQ(ipos->y, 131072.0f);

    // The keys may climb higher; the wheel then never raises the camera, but still lowers it.
    camera->set_position(0, 200000, 0);
    zoom_at(500, 30, -1);
    EXPECT_EQ(ipos->y, 200000.0f);
    EXPECT_EQ(ipos->x, 0.0f);
    zoom_at(256, 256, 1);
    EXPECT_EQ(ipos->y, 160000.0f);
}

TEST_F(Navigation, HomeFliesToTheStartViewAtThePresentHeight) {
    camera->set_position(-3000, 2500, 40000);
    fly_home();
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_start.x, -3000.0f);
    EXPECT_EQ(flight_start.z, 40000.0f);
    EXPECT_EQ(flight_start.height, 2500.0f);
    EXPECT_EQ(flight_target.x, kStartX);
    EXPECT_EQ(flight_target.z, kStartZ);
    EXPECT_EQ(flight_target.height, 2500.0f);

    // Like a minimap click, Home does nothing while a flight runs.
    flight_target = FlightView{1, 2, 3};
    fly_home();
    EXPECT_EQ(flight_target.x, 1.0f);
}

}  // namespace
