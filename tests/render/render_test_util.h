#pragma once
// Shared set-up for the renderer tests: the fixture data set loaded into this process once, the
// start camera, and frame sizes.
#include <cstdint>
#include <vector>

// Writes the fixture data set to a temp folder and loads it the way the viewer does (scan order,
// data set, work images). Idempotent.
void load_fixture_once();

// The one camera in the start pose (created once), moved to (x, y, z).
void place_camera(float x, float y, float z);

// Frame buffer and window shape for a w x h window, as a resize would set them.
void set_frame(int w, int h);

std::vector<uint32_t> frame_copy();
