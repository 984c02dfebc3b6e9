#pragma once
#include "decoder/decode_tile.h"
#include "store/raw_image.h"

// Work images every tile passes through (4 bytes per pixel: byte 0 red, 1 green, 2 blue).
// Allocated once by allocate_work_images (the viewer's prepare_render_buffers, app/load.h),
// released by the exit routine. The fourth, residual_tile (64 x 64, written by the tile decoder),
// is declared with the decoder in decoder/decode_tile.h.
extern RawImage final_tile;     // 64 x 64, written by add_residual
extern RawImage synth_a;        // 72 x 72 predictions of levels 2 and 4
extern RawImage synth_b;        // 72 x 72 predictions of levels 3 and 5

// World units per pixel by level number: 64, 32, 16, 8, 4, 2.
extern float level_scale[6];

// Allocates the work images in turn (residual_tile, final_tile, synth_a, synth_b); false as soon
// as one cannot be, leaving the rest unallocated.
bool allocate_work_images();
// Fills level_scale.
void fill_level_scale();
