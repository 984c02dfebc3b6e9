#pragma once
// Prefetching during a flight: a flight's path is known in advance, so the tiles of the frames it
// will show next can be made in the workers' idle time, before the frames ask for them.
#include <cstdint>

#include "camera/camera.h"
#include "render/kernels.h"

struct Picture;
class RenderEngine;

// What a flight's future frames look like: the flight, the camera's axes and the window.
struct FlightLookahead {
    FlightView start, target;
    float rho, velocity, dt;  // the flight's parameters (viewer settings)
    uint32_t elapsed;         // milliseconds since the flight's start, now
    Vec4 right, up, forward;  // the camera's axes (a flight moves the camera, never turns it)
    float half_width_factor, half_height_factor;
    bool hiqu, residuals;
};

// How far ahead and how finely the path is sampled: one frame per 40 ms (the viewer's default
// frame-rate limit of 25) for one second.
constexpr uint32_t kLookaheadStepMs = 40;
constexpr uint32_t kLookaheadMs = 1000;

// Queues on `engine` the tiles of the frames the flight will show after `look.elapsed`, frame by
// frame in the order they will be shown, each tile once; tiles already cached are skipped by the
// engine. Replaces what was queued before.
void prefetch_flight(RenderEngine& engine, const Picture& picture, const FlightLookahead& look,
                     const PixelKernels& k);

// The viewer's form, once per frame after the flight step: prefetches while a flight runs and
// stops prefetching when it has ended. Reads the program-wide flight state, camera, window shape
// and settings.
void prefetch_for_flight(uint32_t now);
