// Smooth zoom-and-pan flight (the optimal path of van Wijk and Nuij). Every intermediate is
// evaluated in double and stored as a float, except cosh(r0), which stays in double.
#include "camera/flight.h"

#include <cmath>

#include "app/settings.h"

FlightView flight_start = {0, 0, 0};
FlightView flight_target = {0, 0, 0};
int32_t flight_running = 0;
int32_t flight_clock_started = 0;

FlightPoint flight_point(const FlightView& start, const FlightView& target, float rho,
                         float velocity, float dt, uint32_t elapsed) {
    const float x0 = start.x, z0 = start.z, w0 = start.height;
    const float x1 = target.x, z1 = target.z, w1 = target.height;

    const uint32_t t = elapsed;
    const float s = float(double(t) * double(0.001f) * double(velocity) * double(dt));

    const float dx = float(double(x1) - x0);
    const float dz = float(double(z1) - z0);
    const float u1 = float(std::sqrt(double(dx) * dx + double(dz) * dz));
    const float rho2 = float(double(rho) * rho);
    const float rho4 = float(double(rho2) * rho2);

    // A flight of no ground distance has no path (the formulas divide by u1): it ends at once
    // and the camera stays where it is.
    if (!(u1 > 0.0f) || !(rho2 > 0.0f) || !(w0 > 0.0f) || !(w1 > 0.0f))
        return FlightPoint{FlightPoint::no_path, x1, w1, z1};

    const float b0 = float((double(w1) * w1 - double(w0) * w0 + double(rho4) * u1 * u1) /
                           (2.0 * w0 * rho2 * u1));
    const float b1 = float((double(w1) * w1 - double(w0) * w0 - double(rho4) * u1 * u1) /
                           (2.0 * w1 * rho2 * u1));
    const float r0 = float(std::log(std::sqrt(double(b0) * b0 + 1.0) - b0));
    const float r1 = float(std::log(std::sqrt(double(b1) * b1 + 1.0) - b1));
    const float path_len = float((double(r1) - r0) / rho);

    const float dw = float(double(w1) - w0);
    const float dist = float(std::sqrt(double(dx) * dx + double(dz) * dz + double(dw) * dw));
    const float ex = float(double(dx) / dist);
    const float ez = float(double(dz) / dist);

    const float q = float(double(rho) * s + r0);
    const double cosh_r0 = std::cosh(double(r0));
    const float w_over = float(double(w0) / rho2);
    const float u = float(double(w_over) * cosh_r0 * std::tanh(double(q)) -
                          double(w_over) * std::sinh(double(r0)));

    float x = float(double(x0) + double(u) * ex);
    float y = float(double(w0) * cosh_r0 / std::cosh(double(q)));
    if (y < w1) y = w1;
    float z = float(double(z0) + double(u) * ez);

    // The camera must never receive a non-finite position: if the path cannot be evaluated
    // (extreme settings), the flight finishes at its target instead.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(path_len))
        return FlightPoint{FlightPoint::ended, x1, w1, z1};
    return FlightPoint{s >= path_len ? FlightPoint::ended : FlightPoint::moving, x, y, z};
}

FlightView Camera::flight_step(const FlightView& start, const FlightView& target, float rho,
                               float velocity, float dt, uint32_t now) {
    // Unsigned: survives a wrap of the tick counter.
    const FlightPoint p = flight_point(start, target, rho, velocity, dt, now - start_ticks);
    if (p.state == FlightPoint::no_path) return target;
    set_position(p.x, p.y, p.z);
    if (p.state == FlightPoint::ended) return target;
    return FlightView{p.x, p.z, p.y};
}

void flight_frame_step(uint32_t now) {
    if (!flight_running) {
        flight_clock_started = 0;
        return;
    }
    if (!flight_clock_started) {
        camera->set_start_ticks(now);
        flight_clock_started = 1;
    }
    const FlightView r = camera->flight_step(flight_start, flight_target, viewer_settings.zoompan,
                                             viewer_settings.velocity, viewer_settings.dt, now);
    if (r.x == flight_target.x && r.z == flight_target.z) flight_running = 0;
}
