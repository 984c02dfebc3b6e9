#include "app/version.h"

#ifndef QUORVIK_VERSION
#error "QUORVIK_VERSION is set by the build (project VERSION in CMakeLists.txt)"
#endif

const char* const kQuorvikVersion = QUORVIK_VERSION;
