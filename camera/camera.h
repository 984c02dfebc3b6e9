#pragma once
#include <cstdint>

// A point or direction; the fourth component is set by the constructors and never read.
struct Vec4 {
    float x, y, z, w;
};

// A flight's start, target or current point: the camera's x, z and height (y).
struct FlightView {
    float x, z, height;
};

// Where the smooth zoom-and-pan path puts the camera a given time after the flight's start.
struct FlightPoint {
    enum State {
        no_path,  // start and target share x and z (or a parameter is not positive): the flight
                  // ends at once and the camera does not move
        moving,   // the camera goes to (x, y, z)
        ended,    // the camera goes to (x, y, z) and the flight is over
    } state;
    float x, y, z;
};

// The path's point `elapsed` milliseconds after the flight's start, for the flight's start and
// target, rho (zoom/pan ratio) and the two speed factors. Pure: the flight step and the tile
// prefetching during flights both use it. Every intermediate is evaluated in double and stored
// as a float, except cosh(r0), which stays in double.
FlightPoint flight_point(const FlightView& start, const FlightView& target, float rho,
                         float velocity, float dt, uint32_t elapsed);

// The camera above the image plane y = 0. position.y is the height; right, up and forward are
// unit axes (up maps to increasing screen rows). Moves take a signed distance a: a positive a
// moves the position against the axis. The height never drops to 100 or below through a move.
class Camera {
  public:
    uint32_t start_ticks = 0;  // tick count at the current flight's first step
    Vec4 position;
    Vec4 right;
    Vec4 up;
    Vec4 forward;
    float view_angle;
    float near_dist;
    float far_dist;

    Camera(float view_angle, float near_dist, float far_dist);
    ~Camera() = default;

    void set_position(float x, float y, float z);
    void move_right_clamped(float a);
    void move_up_clamped(float a);
    void move_forward_clamped(float a);
    void pitch(float angle);
    void set_start_ticks(uint32_t t) { start_ticks = t; }

    // Sets the position to the smooth zoom-and-pan path's point for the time now - start_ticks
    // and returns it, or returns the target once the path's end has been passed. `now` is the
    // caller's tick count (SDL_GetTicks() in the viewer), so the camera needs no clock of its own.
    FlightView flight_step(const FlightView& start, const FlightView& target, float rho,
                           float velocity, float dt, uint32_t now);

  private:
    void move_clamped(const Vec4& axis, float a);
};

// The one camera, created at start-up and destroyed by the exit routine. ipos/istr/iup/ifor point
// at its live position and axes. Written by place_start_camera() and by the exit routine.
extern Camera* camera;
extern Vec4* ipos;
extern Vec4* istr;
extern Vec4* iup;
extern Vec4* ifor;

// Creates the camera with the viewer's viewing angle and distances, binds ipos..ifor, and puts it
// in the start pose: (111081, 504, 32424), pitched by 1.5707964 to look straight down.
// Returns false when the camera cannot be allocated.
bool place_start_camera();
