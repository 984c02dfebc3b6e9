// The camera: construction, the start pose's pitch, and the clamped moves with their height floor.
#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera.h"

namespace {

double dot(const Vec4& a, const Vec4& b) {
    return double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
}

Vec4 cross(const Vec4& a, const Vec4& b) {
    return Vec4{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0};
}

void expect_near(const Vec4& v, double x, double y, double z, double tol = 1e-6) {
    EXPECT_NEAR(v.x, x, tol);
    EXPECT_NEAR(v.y, y, tol);
    EXPECT_NEAR(v.z, z, tol);
}

// Unit length, mutually orthogonal, and right-handed in all three cyclic orders.
void expect_orthonormal(const Camera& c) {
    EXPECT_NEAR(dot(c.right, c.right), 1.0, 1e-6);
    EXPECT_NEAR(dot(c.up, c.up), 1.0, 1e-6);
    EXPECT_NEAR(dot(c.forward, c.forward), 1.0, 1e-6);
    EXPECT_NEAR(dot(c.right, c.up), 0.0, 1e-6);
    EXPECT_NEAR(dot(c.right, c.forward), 0.0, 1e-6);
    EXPECT_NEAR(dot(c.up, c.forward), 0.0, 1e-6);
    const Vec4 f = cross(c.right, c.up), r = cross(c.up, c.forward), u = cross(c.forward, c.right);
    expect_near(f, c.forward.x, c.forward.y, c.forward.z);
    expect_near(r, c.right.x, c.right.y, c.right.z);
    expect_near(u, c.up.x, c.up.y, c.up.z);
}

TEST(Camera, ConstructorSetsOriginAndIdentityAxes) {
    const Camera c(53.1301f, 1.0f, 50000.0f);
    expect_near(c.position, 0, 0, 0, 0);
    EXPECT_EQ(c.position.w, 1.0f);
    expect_near(c.right, 1, 0, 0, 0);
    expect_near(c.up, 0, 1, 0, 0);
    expect_near(c.forward, 0, 0, 1, 0);
    EXPECT_EQ(c.right.w, 0.0f);
    EXPECT_EQ(c.view_angle, 53.1301f);
    EXPECT_EQ(c.near_dist, 1.0f);
    EXPECT_EQ(c.far_dist, 50000.0f);
    EXPECT_EQ(c.start_ticks, 0u);
}

TEST(Camera, StartPoseLooksStraightDown) {
    ASSERT_TRUE(place_start_camera());
    const Camera& c = *camera;
    EXPECT_NEAR(c.view_angle, 53.1301, 1e-4);
    EXPECT_EQ(c.near_dist, 1.0f);
    EXPECT_EQ(c.far_dist, 50000.0f);
    EXPECT_EQ(c.position.x, 111081.0f);
    EXPECT_EQ(c.position.y, 504.0f);
    EXPECT_EQ(c.position.z, 32424.0f);
    expect_near(c.right, 1, 0, 0, 0);
    expect_near(c.up, 0, -4.37e-8, 1, 1e-9);
    expect_near(c.forward, 0, -1, -4.37e-8, 1e-9);
    expect_orthonormal(c);
    // The shared names are the live fields, not copies.
    EXPECT_EQ(ipos, &camera->position);
    EXPECT_EQ(istr, &camera->right);
    EXPECT_EQ(iup, &camera->up);
    EXPECT_EQ(ifor, &camera->forward);
    camera->move_right_clamped(-10.0f);
    EXPECT_EQ(ipos->x, 111091.0f);
    delete camera;
    camera = nullptr;
}

TEST(Camera, PitchRotatesForwardAndUpAboutRight) {
    Camera still(1, 1, 1);
    still.pitch(0.0f);
    expect_near(still.right, 1, 0, 0, 0);
    expect_near(still.up, 0, 1, 0, 1e-7);
    expect_near(still.forward, 0, 0, 1, 1e-7);

    for (float angle : {0.3f, -1.0f, 2.5f, 1.5707964f}) {
        SCOPED_TRACE(angle);
        Camera c(1, 1, 1);
        const Vec4 old_forward = c.forward;
        c.pitch(angle);
        expect_orthonormal(c);
        expect_near(c.right, 1, 0, 0, 0);
        // forward turned by the angle, towards -up for a positive angle.
        EXPECT_NEAR(dot(c.forward, old_forward), std::cos(angle), 1e-6);
        EXPECT_NEAR(c.forward.y, -std::sin(angle), 1e-6);
    }

    // Pitching twice adds the angles.
    Camera twice(1, 1, 1);
    twice.pitch(0.4f);
    twice.pitch(0.5f);
    EXPECT_NEAR(twice.forward.z, std::cos(0.9), 1e-6);
    EXPECT_NEAR(twice.forward.y, -std::sin(0.9), 1e-6);
}

TEST(Camera, ClampedMovesNeverTakeTheHeightTo100OrBelow) {
    Camera c(1, 1, 1);  // up = (0, 1, 0): move_up_clamped(a) changes the height by -a
    c.set_position(5, 120, 7);
    c.move_up_clamped(20);  // candidate exactly 100
    EXPECT_EQ(c.position.y, 120.0f);
    c.move_up_clamped(30);  // would end at 90
    EXPECT_EQ(c.position.y, 120.0f);
    c.move_up_clamped(19.5f);
    EXPECT_EQ(c.position.y, 100.5f);
    c.move_up_clamped(1);
    EXPECT_EQ(c.position.y, 100.5f);
    c.move_up_clamped(-30);
    EXPECT_EQ(c.position.y, 130.5f);
    EXPECT_EQ(c.position.x, 5.0f);
    EXPECT_EQ(c.position.z, 7.0f);

    // x and z move even when the height is held.
    Camera tilted(1, 1, 1);
    tilted.up = Vec4{0.6f, 0.8f, 0, 0};
    tilted.set_position(0, 110, 0);
    tilted.move_up_clamped(50);  // height would be 70
    EXPECT_EQ(tilted.position.y, 110.0f);
    EXPECT_FLOAT_EQ(tilted.position.x, -30.0f);

    // An axis without a y component never changes the height.
    ASSERT_TRUE(place_start_camera());
    camera->set_position(1000, 100.5f, 2000);
    camera->move_right_clamped(25);
    camera->move_right_clamped(-5);
    EXPECT_EQ(camera->position.y, 100.5f);
    EXPECT_EQ(camera->position.x, 980.0f);
    EXPECT_EQ(camera->position.z, 2000.0f);
    // In the start pose forward is straight down: w (a = -20) descends, s climbs.
    camera->set_position(0, 504, 0);
    camera->move_forward_clamped(-20);
    EXPECT_EQ(camera->position.y, 484.0f);
    camera->move_forward_clamped(20);
    EXPECT_EQ(camera->position.y, 504.0f);
    camera->move_up_clamped(20);  // r: towards the image's top
    EXPECT_NEAR(camera->position.z, -20.0f, 1e-4);
    EXPECT_EQ(camera->position.y, 504.0f);
    delete camera;
    camera = nullptr;
}

}  // namespace
