#pragma once
// Opening a one-file picture for the viewer, before any window opens.
#include <string>

// Opens `path` as the viewer's picture (viewer_file). False, with `error` set to one line
// "PATH: fault", when it is not a sound picture file.
bool open_viewer_file(const std::string& path, std::string& error);
