#pragma once
#include "store/raw_image.h"

// Work images every tile passes through (4 bytes per pixel: byte 0 red, 1 green, 2 blue).
// Allocated once by prepare_render_buffers, released by the exit routine.
extern RawImage residual_tile;  // 64 x 64, written by the tile decoder
extern RawImage final_tile;     // 64 x 64, written by add_residual
extern RawImage synth_a;        // 72 x 72 predictions of levels 2 and 4
extern RawImage synth_b;        // 72 x 72 predictions of levels 3 and 5

// World units per pixel by level number: 64, 32, 16, 8, 4, 2.
extern float level_scale[6];

// Allocates the work images, packs the base textures, fills level_scale.
void prepare_render_buffers();
