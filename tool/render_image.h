#pragma once
#include <string>

// Writes frame_buffer (W x H packed 0x00RRGGBB words) as 8-bit RGB, red from bits 16..23.
bool write_frame_png(const std::string& path, std::string& why);
bool write_frame_ppm(const std::string& path, std::string& why);
