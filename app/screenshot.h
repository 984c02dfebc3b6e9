#pragma once
// Saving the frame shown (F12): the frame buffer as an 8-bit RGB PNG in a file of its own.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

// Writes w x h packed 0x00RRGGBB pixels (row by row) as an RGB PNG to `out`. False, with `why`
// set, when libpng reports an error or the stream fails.
bool write_png(FILE* out, const uint32_t* pixels, int w, int h, std::string& why);

// "quorvik-YYYYMMDD-HHMMSS.png" for the local time `when`; with n > 0 the n-th alternative,
// "quorvik-YYYYMMDD-HHMMSS-N.png".
std::string screenshot_name(time_t when, int n);

// Saves the pixels in `folder` under the first screenshot name for `when` that no file has yet
// (created exclusively, so an existing file is never overwritten, not even by a second viewer).
// Returns the path written ("folder/name"), or "" with `why` set; a failed write leaves no file.
std::string save_screenshot(const std::string& folder, time_t when, const uint32_t* pixels, int w,
                            int h, std::string& why);
