#pragma once
// Everything one tile passes through on its way from the data set to the screen, as plain
// buffers owned by the caller: the three channel planes, the residual, the two synthesis images
// and the final tile. A thread that makes tiles owns one; the viewer's single-threaded tile path
// uses the program-wide work images (plane_y, residual_tile, synth_a, synth_b, final_tile).
#include <cstdint>
#include <memory>
#include <vector>

#include "store/format.h"

struct TileScratch {
    float* planes[3];     // Y, Cb, Cr: 4096 floats each (coefficients, then samples)
    uint8_t* residual;    // 64 x 64 four-byte pixels, rows 256 bytes apart
    uint8_t* synth_even;  // 72 x 72 four-byte pixels, rows 288 bytes apart (levels 2 and 4)
    uint8_t* synth_odd;   // the same for levels 3 and 5
    uint8_t* final_tile;  // 64 x 64 four-byte pixels, rows 256 bytes apart
    std::vector<uint8_t>* coded;  // a one-file picture's tile as read, before decoding
};

constexpr int kTileRowBytes = kTilePixels * 4;  // 256
constexpr int kSynthRowBytes = 72 * 4;          // 288

// Buffers for one TileScratch, aligned for the vector kernels.
class TileScratchBuffers {
  public:
    TileScratchBuffers();
    ~TileScratchBuffers();
    TileScratchBuffers(const TileScratchBuffers&) = delete;
    TileScratchBuffers& operator=(const TileScratchBuffers&) = delete;
    TileScratch& scratch() { return scratch_; }

  private:
    struct Storage;
    std::unique_ptr<Storage> storage_;
    TileScratch scratch_;
};
