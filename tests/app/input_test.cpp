// One frame's input: minimap clicks that start flights, movement keys and speeds, the camera
// print-out and the exit keys.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <vector>

#include "app/input.h"
#include "app/navigation.h"
#include "app/settings.h"
#include "camera/flight.h"
#include "store/data_set.h"

namespace {

class InputStep : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(place_start_camera());
        viewer_settings = ViewerSettings();
        flight_running = 0;
        flight_start = flight_target = FlightView{0, 0, 0};
        minimap_rect = MinimapRect{0, 0, 256, 128};
        std::fill(std::begin(keys_), std::end(keys_), 0);
        pointer_released();
    }
    void TearDown() override {
        delete camera;
        camera = nullptr;
    }
    // One frame, with move_speed reset as the frame loop does.
    void frame(uint32_t buttons = 0, int mx = 0, int my = 0, uint32_t mods = 0) {
        move_speed = 20.0f;
        input_step(keys_, buttons, mx, my, mods);
    }
    void click(int mx, int my) { frame(SDL_BUTTON(1), mx, my); }

    uint8_t keys_[SDLK_LAST];
};

TEST_F(InputStep, MinimapClickTargetsTheMatchingWorldPoint) {
    click(0, 0);
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_start.x, 111081.0f);
    EXPECT_EQ(flight_start.z, 32424.0f);
    EXPECT_EQ(flight_start.height, 504.0f);
    EXPECT_EQ(flight_target.x, -16384.0f);
    EXPECT_EQ(flight_target.z, -16384.0f);
    EXPECT_EQ(flight_target.height, 504.0f);

    flight_running = 0;
    click(255, 127);
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_target.x, float(255.0 / 256.0 * 131072 - 16384));
    EXPECT_EQ(flight_target.z, float(127.0 / 128.0 * 65536 - 16384));

    // The target keeps the camera's present height.
    flight_running = 0;
    camera->set_position(0, 7000, 0);
    click(128, 64);
    EXPECT_EQ(flight_target.x, 65536.0f - 16384.0f);
    EXPECT_EQ(flight_target.z, 32768.0f - 16384.0f);
    EXPECT_EQ(flight_target.height, 7000.0f);
    EXPECT_EQ(flight_start.height, 7000.0f);
}

TEST_F(InputStep, ClicksThatStartNoFlight) {
    struct Case {
        const char* what;
        uint32_t buttons;
        int mx, my;
    } cases[] = {
        {"one pixel right of the minimap", SDL_BUTTON(1), 256, 0},
        {"one pixel below the minimap", SDL_BUTTON(1), 0, 128},
        {"left of the window", SDL_BUTTON(1), -1, 5},
        {"right button", SDL_BUTTON(3), 10, 10},
        {"no button", 0, 10, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frame(c.buttons, c.mx, c.my);
        EXPECT_EQ(flight_running, 0);
    }

    viewer_settings.showMinimap = 0;
    click(10, 10);
    EXPECT_EQ(flight_running, 0);
    viewer_settings.showMinimap = 1;

    // During a flight a click changes nothing.
    click(10, 10);
    ASSERT_EQ(flight_running, 1);
    const FlightView target = flight_target;
    click(200, 100);
    EXPECT_EQ(flight_target.x, target.x);
    EXPECT_EQ(flight_target.z, target.z);
}

// The frame loop hands the left button's press and moves to the navigation as events, and the
// input step then sees the button held as state.
TEST_F(InputStep, ADragThatReachesTheMinimapStartsNoFlightButAClickThereDoes) {
    pointer_pressed(400, 300);
    click(400, 300);
    pointer_moved(100, 60);
    click(100, 60);
    click(100, 60);
    EXPECT_EQ(flight_running, 0) << "a drag over the minimap became a click";
    pointer_released();
    frame(0, 100, 60);

    pointer_pressed(100, 60);
    click(100, 60);
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_target.x, float(100.0 / 256.0 * 131072 - 16384));
    // Holding the button there and moving off and back is the click as it always was: no pan.
    const float x = ipos->x;
    pointer_moved(300, 300);
    click(300, 300);
    EXPECT_EQ(ipos->x, x);
}

TEST_F(InputStep, MinimapAwayFromTheCornerIsHitRelativeToItsOrigin) {
    minimap_rect = MinimapRect{10, 20, 100, 50};
    click(9, 20);
    EXPECT_EQ(flight_running, 0);
    click(10, 19);
    EXPECT_EQ(flight_running, 0);
    click(10, 20);
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_target.x, -16384.0f);
    EXPECT_EQ(flight_target.z, -16384.0f);
    flight_running = 0;
    click(109, 69);
    ASSERT_EQ(flight_running, 1);
    EXPECT_EQ(flight_target.x, float(99.0 / 100.0 * 131072 - 16384));
    flight_running = 0;
    click(110, 30);
    EXPECT_EQ(flight_running, 0);
}

TEST_F(InputStep, MovementKeysAndSpeeds) {
    struct Case {
        const char* what;
        std::vector<SDLKey> keys;
        uint32_t mods;
        float dx, dy, dz;
    } cases[] = {
        {"w descends", {SDLK_w}, 0, 0, -20, 0},
        {"up arrow descends", {SDLK_UP}, 0, 0, -20, 0},
        {"s climbs", {SDLK_s}, 0, 0, 20, 0},
        {"down arrow climbs", {SDLK_DOWN}, 0, 0, 20, 0},
        {"a goes left", {SDLK_a}, 0, -20, 0, 0},
        {"left arrow goes left", {SDLK_LEFT}, 0, -20, 0, 0},
        {"d goes right", {SDLK_d}, 0, 20, 0, 0},
        {"right arrow goes right", {SDLK_RIGHT}, 0, 20, 0, 0},
        {"r goes to the image's top", {SDLK_r}, 0, 0, 0, -20},
        {"right ctrl goes to the top", {SDLK_RCTRL}, 0, 0, 0, -20},
        {"f goes to the bottom", {SDLK_f}, 0, 0, 0, 20},
        {"keypad 0 goes to the bottom", {SDLK_KP0}, 0, 0, 0, 20},
        {"d with left shift", {SDLK_d}, KMOD_LSHIFT, 80, 0, 0},
        {"d with right shift", {SDLK_d}, KMOD_RSHIFT, 5, 0, 0},
        {"d with both shifts", {SDLK_d}, KMOD_LSHIFT | KMOD_RSHIFT, 5, 0, 0},
        {"a and d cancel", {SDLK_a, SDLK_d}, 0, 0, 0, 0},
        {"w and s cancel", {SDLK_w, SDLK_s}, 0, 0, 0, 0},
        {"two keys of one row move once", {SDLK_d, SDLK_RIGHT}, 0, 20, 0, 0},
        {"d and f together", {SDLK_d, SDLK_f}, KMOD_LSHIFT, 80, 0, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        camera->set_position(1000, 504, 2000);
        std::fill(std::begin(keys_), std::end(keys_), 0);
        for (SDLKey k : c.keys) keys_[k] = 1;
        frame(0, 0, 0, c.mods);
        EXPECT_NEAR(ipos->x, 1000 + c.dx, 1e-3);
        EXPECT_NEAR(ipos->y, 504 + c.dy, 1e-3);
        EXPECT_NEAR(ipos->z, 2000 + c.dz, 1e-3);
    }
}

TEST_F(InputStep, HeightFloorHoldsWhileXAndZStillMove) {
    camera->set_position(1000, 110, 2000);
    keys_[SDLK_w] = 1;
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(ipos->y, 110.0f);
    // x and z change by the forward axis's components times 20 (nearly nothing looking down).
    EXPECT_NEAR(ipos->x, 1000 + 3 * 20 * ifor->x, 1e-3);
    EXPECT_NEAR(ipos->z, 2000 + 3 * 20 * ifor->z, 1e-3);
    keys_[SDLK_w] = 0;
    keys_[SDLK_s] = 1;
    frame();
    EXPECT_EQ(ipos->y, 130.0f);
}

TEST_F(InputStep, PPrintsTheCameraBlockInEveryFrame) {
    keys_[SDLK_p] = 1;
    std::ostringstream captured;
    std::streambuf* saved = std::cout.rdbuf(captured.rdbuf());
    frame();
    frame();
    std::cout.rdbuf(saved);
    const std::string text = captured.str();

    std::istringstream lines(text);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);) got.push_back(line);
    ASSERT_EQ(got.size(), 12u) << text;
    for (int block = 0; block < 2; ++block) {
        const std::string* b = &got[size_t(block) * 6];
        EXPECT_EQ(b[0], "");
        EXPECT_EQ(b[1], "ipos = 111081, 504, 32424");
        EXPECT_EQ(b[2], "istr = 1, 0, 0");
        float x, y, z;
        ASSERT_EQ(sscanf(b[3].c_str(), "iup = %g, %g, %g", &x, &y, &z), 3) << b[3];
        EXPECT_NEAR(y, -4.37e-8, 1e-9);
        EXPECT_EQ(z, 1.0f);
        ASSERT_EQ(sscanf(b[4].c_str(), "ifor = %g, %g, %g", &x, &y, &z), 3) << b[4];
        EXPECT_EQ(y, -1.0f);
        EXPECT_NEAR(z, -4.37e-8, 1e-9);
        EXPECT_EQ(b[5], "");
    }
}

TEST_F(InputStep, EscapeAndQEndTheProgramWithStatusZero) {
    keys_[SDLK_ESCAPE] = 1;
    EXPECT_EXIT(frame(), ::testing::ExitedWithCode(0), "^<ESC> or <q> pressed\\. clean up!\n$");
    keys_[SDLK_ESCAPE] = 0;
    keys_[SDLK_q] = 1;
    EXPECT_EXIT(frame(), ::testing::ExitedWithCode(0), "^<ESC> or <q> pressed\\. clean up!\n$");
    // Other keys leave the program running (an exit here would end the test process).
    keys_[SDLK_q] = 0;
    keys_[SDLK_e] = keys_[SDLK_x] = keys_[SDLK_SPACE] = keys_[SDLK_RETURN] = 1;
    frame();
}

}  // namespace
