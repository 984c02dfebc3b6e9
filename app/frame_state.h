#pragma once
#include <cstdint>

// The frame buffer and the window-shape values the renderer derives its projection from.
// Written only by resize_window (viewer) or by the headless tool's set-up; read by the renderer,
// the overlays and present_frame. frame_buffer holds W x H packed 0x00RRGGBB words, row by row.
extern uint32_t* frame_buffer;
extern int frame_width;           // W
extern int frame_height;          // H
extern float focal_length;        // min(W, H)
extern float half_width_factor;   // 0.5 * W / H when W >= H, otherwise 0.5
extern float half_height_factor;  // 0.5 when W >= H, otherwise 0.5 * H / W
extern int row_gap;               // spare pixels at the end of each display surface row

// The shape values for a requested size w x h (steps 4 and 5 of a resize): the aspect ratio is
// rounded to a float before the division, as the projection was tuned with.
void compute_window_shape(int w, int h, int surface_pitch, int surface_width);

// Allocates (or reallocates) frame_buffer for w x h pixels and sets W and H. Returns false when
// the allocation fails, leaving frame_buffer null.
bool resize_frame_buffer(int w, int h);
