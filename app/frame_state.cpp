#include "app/frame_state.h"

#include <cstdlib>

uint32_t* frame_buffer = nullptr;
int frame_width = 512;
int frame_height = 512;
float focal_length = 512.0f;
float half_width_factor = 0.5f;
float half_height_factor = 0.5f;
int row_gap = 0;

void compute_window_shape(int w, int h, int surface_pitch, int surface_width) {
    if (w >= h) {
        focal_length = float(h);
        const float ratio = float(double(h) / double(w));
        half_width_factor = float(0.5 / double(ratio));
        half_height_factor = 0.5f;
    } else {
        focal_length = float(w);
        const float ratio = float(double(w) / double(h));
        half_width_factor = 0.5f;
        half_height_factor = float(0.5 / double(ratio));
    }
    row_gap = (surface_pitch - 4 * surface_width) / 4;
}

bool resize_frame_buffer(int w, int h) {
    frame_width = w;
    frame_height = h;
    void* grown = realloc(frame_buffer, size_t(w) * size_t(h) * 4);
    if (!grown) {
        // The old block is released here so that no frame buffer of the wrong size is held.
        free(frame_buffer);
        frame_buffer = nullptr;
        return false;
    }
    frame_buffer = static_cast<uint32_t*>(grown);
    return true;
}
