#pragma once
#include <cstdint>
#include "camera/camera.h"

// Flight state. The minimap click (input step) writes flight_start, flight_target and sets
// flight_running; the main loop's flight step clears it and owns flight_clock_started.
extern FlightView flight_start;
extern FlightView flight_target;
extern int32_t flight_running;
extern int32_t flight_clock_started;

// The main loop's flight step for one frame, `now` being the frame's tick count.
void flight_frame_step(uint32_t now);
