// The smooth zoom-and-pan flight: path numbers, its start and end, speed scaling, the degenerate
// cases, and the frame step's state.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "app/settings.h"
#include "camera/flight.h"

namespace {

const float kRho = 1.42f;
const FlightView kStart{0, 0, 504};
const FlightView kTarget{50000, 0, 504};

// One step at `ms` after the flight's start.
FlightView step_at(Camera& c, uint32_t ms, const FlightView& start = kStart,
                   const FlightView& target = kTarget, float rho = kRho, float v = 1, float k = 1) {
    c.set_start_ticks(1000);
    return c.flight_step(start, target, rho, v, k, 1000 + ms);
}

bool is(const FlightView& a, const FlightView& b) {
    return a.x == b.x && a.z == b.z && a.height == b.height;
}

// First millisecond at which the flight returns its target.
uint32_t duration_ms(float v, float k) {
    Camera c(1, 1, 1);
    for (uint32_t ms = 0; ms < 100000; ++ms)
        if (is(step_at(c, ms, kStart, kTarget, kRho, v, k), kTarget)) return ms;
    return UINT32_MAX;
}

TEST(Flight, PathNumbersForA50000UnitFlight) {
    // b0 = rho^2 u1 / 2w and S = 2 asinh(b0) / rho for a level flight.
    const double b0 = double(kRho) * kRho * 50000 / (2 * 504.0);
    const double S = 2 * std::asinh(b0) / kRho;
    EXPECT_NEAR(b0, 100.02, 0.005);
    EXPECT_NEAR(S, 7.4627, 0.0001);

    Camera c(1, 1, 1);
    // At s = 0 the camera is exactly at the start.
    const FlightView first = step_at(c, 0);
    EXPECT_EQ(first.x, 0.0f);
    EXPECT_EQ(first.z, 0.0f);
    EXPECT_EQ(first.height, 504.0f);
    EXPECT_EQ(c.position.x, 0.0f);
    EXPECT_EQ(c.position.y, 504.0f);

    // Half-way (s = S / 2, reached exactly through the velocity factor): 25000 along, at the top.
    const FlightView mid = step_at(c, 1000, kStart, kTarget, kRho, float(S / 2), 1);
    EXPECT_NEAR(mid.x, 25000, 5);
    EXPECT_NEAR(mid.height, 50412.5, 1.0);
    EXPECT_EQ(mid.z, 0.0f);
    EXPECT_EQ(c.position.x, mid.x);
    EXPECT_EQ(c.position.y, mid.height);

    // The path rises monotonically to the middle and is symmetric about it.
    const FlightView quarter = step_at(c, 1000, kStart, kTarget, kRho, float(S / 4), 1);
    const FlightView three_q = step_at(c, 1000, kStart, kTarget, kRho, float(3 * S / 4), 1);
    EXPECT_GT(quarter.height, 504.0f);
    EXPECT_LT(quarter.height, mid.height);
    EXPECT_NEAR(quarter.height, three_q.height, 0.01 * quarter.height);
    EXPECT_NEAR(quarter.x + three_q.x, 50000, 10);
}

TEST(Flight, EndsOnTheTargetAtTheStartHeight) {
    const uint32_t end = duration_ms(1, 1);
    EXPECT_EQ(end, 7463u);  // the first whole millisecond with s >= S = 7.4627
    Camera c(1, 1, 1);
    const FlightView before = step_at(c, end - 1);
    EXPECT_FALSE(is(before, kTarget));
    EXPECT_LT(before.x, 50000.0f);

    const FlightView last = step_at(c, end);
    EXPECT_TRUE(is(last, kTarget));
    // The camera stays where the last step put it: at most one step past the target, at exactly
    // the start height.
    EXPECT_EQ(c.position.y, 504.0f);
    EXPECT_GE(c.position.x, 49999.0f);
    EXPECT_LE(c.position.x, 50001.0f);
    EXPECT_EQ(c.position.z, 0.0f);

    // Any later step, a frame or seconds late, still returns the target.
    EXPECT_TRUE(is(step_at(c, end + 40), kTarget));
    EXPECT_TRUE(is(step_at(c, end + 60000), kTarget));
    EXPECT_EQ(c.position.y, 504.0f);
}

TEST(Flight, SpeedFactorsScaleTheDurationNotThePath) {
    const uint32_t base = duration_ms(1, 1);
    const uint32_t fast_v = duration_ms(2, 1);
    const uint32_t fast_k = duration_ms(1, 2);
    EXPECT_NEAR(double(fast_v), base / 2.0, 1.0);
    EXPECT_NEAR(double(fast_k), base / 2.0, 1.0);

    Camera a(1, 1, 1), b(1, 1, 1);
    const FlightView slow = step_at(a, 2000, kStart, kTarget, kRho, 1, 1);
    const FlightView fast = step_at(b, 1000, kStart, kTarget, kRho, 2, 1);
    EXPECT_NEAR(slow.x, fast.x, 0.5);
    EXPECT_NEAR(slow.height, fast.height, 0.5);

    // A larger ratio flies higher and ends sooner for the same distance.
    Camera hi(1, 1, 1);
    const double S_hi = 2 * std::asinh(2.0f * 2.0f * 50000 / 1008.0) / 2.0;
    const FlightView top = step_at(hi, 1000, kStart, kTarget, 2.0f, float(S_hi / 2), 1);
    EXPECT_GT(top.height, 50412.5f);
    EXPECT_LT(S_hi, 7.4627);
}

TEST(Flight, DiagonalFlightFollowsTheGroundDirection) {
    const FlightView start{1000, 2000, 300};
    const FlightView target{1000 - 3000, 2000 + 4000, 300};
    Camera c(1, 1, 1);
    const FlightView p = step_at(c, 1500, start, target);
    ASSERT_FALSE(is(p, target));
    // Travel along (-3, 4) / 5.
    EXPECT_NEAR((p.x - 1000) / -3.0, (p.z - 2000) / 4.0, 0.05);
    EXPECT_GT(p.z, 2000.0f);
}

TEST(Flight, DegenerateAndExtremeFlightsStayFinite) {
    // No ground distance: ends at once, the camera does not move.
    Camera still(1, 1, 1);
    still.set_position(123, 456, 789);
    const FlightView here{123, 789, 456};
    EXPECT_TRUE(is(step_at(still, 0, here, here), here));
    EXPECT_EQ(still.position.x, 123.0f);
    EXPECT_EQ(still.position.y, 456.0f);
    EXPECT_EQ(still.position.z, 789.0f);

    for (float rho : {0.01f, 0.5f, 1.42f, 10.0f, 100.0f})
        for (float dist : {0.001f, 1.0f, 50000.0f, 147000.0f})
            for (float height : {100.5f, 504.0f, 1e6f})
                for (uint32_t ms : {0u, 500u, 100000u, 4000000000u}) {
                    const FlightView start{-16384, -16384, height};
                    const FlightView target{-16384 + dist, -16384, height};
                    Camera c(1, 1, 1);
                    c.set_position(start.x, start.height, start.z);
                    const FlightView r = step_at(c, ms, start, target, rho, 0.05f, 0.05f);
                    ASSERT_TRUE(std::isfinite(c.position.x) && std::isfinite(c.position.y) &&
                                std::isfinite(c.position.z))
                        << "rho " << rho << " dist " << dist << " height " << height << " ms "
                        << ms;
                    ASSERT_TRUE(std::isfinite(r.x) && std::isfinite(r.height));
                    EXPECT_GE(c.position.y, height);
                }
    // Even then every flight ends.
    Camera c(1, 1, 1);
    EXPECT_TRUE(is(step_at(c, 4000000000u, kStart, kTarget, 0.01f, 0.05f, 0.05f), kTarget));
}

TEST(Flight, ElapsedTimeSurvivesATickWrap) {
    Camera wrapped(1, 1, 1), plain(1, 1, 1);
    wrapped.set_start_ticks(0xFFFFFF00u);
    const FlightView a = wrapped.flight_step(kStart, kTarget, kRho, 1, 1, 0xFFFFFF00u + 2500u);
    plain.set_start_ticks(0);
    const FlightView b = plain.flight_step(kStart, kTarget, kRho, 1, 1, 2500);
    EXPECT_TRUE(is(a, b));
    EXPECT_GT(a.x, 0.0f);
}

TEST(Flight, FrameStepStartsTheClockAndEndsTheFlight) {
    ASSERT_TRUE(place_start_camera());
    viewer_settings = ViewerSettings();
    flight_running = 0;
    flight_clock_started = 1;
    flight_frame_step(5000);
    EXPECT_EQ(flight_clock_started, 0);  // reset in every frame without a flight
    EXPECT_EQ(camera->position.x, 111081.0f);

    flight_start = FlightView{111081, 32424, 504};
    flight_target = FlightView{111081 + 50000, 32424, 504};
    flight_running = 1;
    flight_frame_step(20000);  // the clock starts in the first step: no distance yet
    EXPECT_EQ(flight_clock_started, 1);
    EXPECT_EQ(camera->start_ticks, 20000u);
    EXPECT_EQ(camera->position.x, 111081.0f);
    EXPECT_EQ(flight_running, 1);

    flight_frame_step(23000);
    EXPECT_EQ(flight_running, 1);
    EXPECT_GT(camera->position.y, 504.0f);
    flight_frame_step(27463);
    EXPECT_EQ(flight_running, 0);
    EXPECT_EQ(camera->position.y, 504.0f);
    EXPECT_NEAR(camera->position.x, 161081.0f, 1.0f);
    flight_frame_step(27500);
    EXPECT_EQ(flight_clock_started, 0);

    // Zero distance ends in its first step.
    flight_target = flight_start = FlightView{camera->position.x, camera->position.z, 504};
    flight_running = 1;
    flight_frame_step(30000);
    EXPECT_EQ(flight_running, 0);
    delete camera;
    camera = nullptr;
}

}  // namespace
