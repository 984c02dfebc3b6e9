#pragma once
#include <cstdint>

// Rebuilds view_matrix from the camera axes and focal_length (once per frame).
void build_view_matrix();

// Copies the frame buffer (W x H) into 32-bit 0x00RRGGBB surface memory of sw x sh pixels and
// `pitch` bytes per row: one block when the rows line up, otherwise row by row, and only where
// the surface exists.
void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh);
