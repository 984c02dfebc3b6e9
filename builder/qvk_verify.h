#pragma once
// Checks a one-file picture: opens it as the viewer does, then reads and decodes every tile of
// every level.
#include <cstdio>
#include <string>

namespace builder {

// Writes a per-level table, each damaged tile ("PATH: tile L/TX,TY: why", the first 20, then how
// many more) and a verdict to `out`; true only when every tile decodes. When the file cannot be
// opened at all, returns false with `open_error` set to "PATH: fault" and writes nothing.
bool verify_qvk(const std::string& path, int threads, FILE* out, std::string& open_error);

// Whether a path names a one-file picture rather than a folder data set.
bool is_qvk_path(const std::string& path);

}  // namespace builder
