#pragma once
// libvips, started once for the whole process, and its error text cut to one line.
#include <string>

namespace builder {

// Starts libvips on first use; throws std::runtime_error when it cannot start.
void ensure_vips();
// The first line of a libvips error (its buffer holds one line per failing operation).
std::string vips_first_line(const char* text);

}  // namespace builder
