#pragma once
// What quorvik-tool's render and bench share: argument parsing, opening a data set the way the
// viewer does, the frame size, the render engine's settings and one frame.
#include <string>

// Prints "quorvik-tool COMMAND: message" on standard error, sets the exit status to 1; returns 1.
int fail(const char* command, const std::string& message);

bool parse_float(const std::string& text, float& out);
bool parse_int(const std::string& text, long lo, long hi, int& out);

// The render engine's settings from --threads and --cache-mb (text as given; an empty text keeps
// the default): false after `fail` when a value is out of range.
bool configure_engine(const char* command, const std::string& threads, const std::string& cache_mb);

// Opens the data set in `dir` (the folder holding ezw_data, or ezw_data itself, or a one-file
// picture) the way the viewer does at start-up: camera, scan order, data set, work images.
// False after `fail`.
bool load_from(const std::string& dir, const char* command);

// Frame buffer and window shape for a w x h window.
bool set_frame_size(int w, int h);

// One frame as the viewer draws it: view matrix, world, overlays.
void draw_frame();
