#include "render/tile_scratch.h"

struct TileScratchBuffers::Storage {
    alignas(32) float planes[3][kTileCoeffs];
    alignas(32) uint8_t residual[kTilePixels * kTileRowBytes];
    alignas(32) uint8_t synth_even[72 * kSynthRowBytes];
    alignas(32) uint8_t synth_odd[72 * kSynthRowBytes];
    alignas(32) uint8_t final_tile[kTilePixels * kTileRowBytes];
    std::vector<uint8_t> coded;
};

TileScratchBuffers::TileScratchBuffers() : storage_(new Storage()) {
    Storage& s = *storage_;
    scratch_ = TileScratch{{s.planes[0], s.planes[1], s.planes[2]},
                           s.residual,
                           s.synth_even,
                           s.synth_odd,
                           s.final_tile,
                           &s.coded};
}

TileScratchBuffers::~TileScratchBuffers() = default;
