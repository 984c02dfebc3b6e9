#pragma once
// An assertion that survives release builds: the fuzz targets run optimised, and a broken
// invariant must stop the run with the input that caused it, in the clang build as well as in the
// GCC replay.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                 \
    do {                                                                                 \
        if (!(cond)) {                                                                   \
            fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                     \
        }                                                                                \
    } while (0)
