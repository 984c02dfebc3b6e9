#pragma once
// Reading PNG files in tests, with libpng's own reader (independent of how they were written).
#include <cstdint>
#include <string>
#include <vector>

// Reads an 8-bit PNG as packed 0x00RRGGBB words, row by row. False when unreadable.
bool read_png_pixels(const std::string& path, int& width, int& height,
                     std::vector<uint32_t>& pixels);
