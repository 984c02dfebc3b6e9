#pragma once

// The release of the viewer and the tool, set once in the top-level CMakeLists.txt (project
// VERSION) and printed by their --version.
extern const char* const kQuorvikVersion;
