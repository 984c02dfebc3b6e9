#pragma once
#include <cstdint>
#include <string>
#include "store/format.h"
#include "store/raw_image.h"
#include "store/tile_file.h"

constexpr int kLevels = 6;  // indexed by level number; 2..5 hold tile sets

// The minimap's place in the frame (window pixels).
struct MinimapRect {
    int32_t x, y, w, h;
};

// Tables filled by load_data_set and released by the exit routine; empty until loaded.
extern ResidualLevel residuals_level[kSubImages][kLevels];
extern RawImage base_tex[kSubImages];         // 3-byte pixels as read
extern RawImage base_tex_packed[kSubImages];  // 0x00RRGGBB words (filled by prepare_render_buffers)
extern RawImage minimap;                      // packed
extern MinimapRect minimap_rect;              // written at load; x, y clamped by resize_window

// Sub-image names by index (column + 4 * row).
extern const char* const kSubImageNames[kSubImages];

// "./ezw_data/NAME": the data set's paths on this platform.
std::string data_path(const std::string& name);
std::string base_tex_name(int sub);                      // "A1_base_tex.pzd"
std::string tile_file_name(int sub, int level, char c);  // "A1_ezt_1_2_R.ezw"

// Loads the whole data set with its console lines, or ends the program with status 1.
void load_data_set();
