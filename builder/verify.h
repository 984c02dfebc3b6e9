#pragma once
// Checks a data set with the viewer's own validation and, on request, decodes every tile.
#include <cstdio>
#include <string>

namespace builder {

struct VerifyOptions {
    bool decode = false;
    int threads = 0;
};

// Checks DIR/ezw_data (or DIR itself when it holds the files). Writes a per-level table and
// every problem found to `out`; returns true only when the data set is sound.
bool verify_data_set(const std::string& dir, const VerifyOptions& options, FILE* out);

}  // namespace builder
