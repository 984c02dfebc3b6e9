#pragma once
// The tile decoder's entry point: three channel records -> residual_tile.
#include "decoder/ezw_decode.h"
struct TileSet;

// Planes of the last decoded tile: coefficients after decode_tile_channel, samples after
// inverse_wavelet. Y from the R file, Cb from G, Cr from B.
extern float plane_y[kTileCoeffs];
extern float plane_cb[kTileCoeffs];
extern float plane_cr[kTileCoeffs];

// Decodes tile t of sub-image `sub` (0..7) at `level` (2..5) into residual_tile (store/
// render_buffers.h): three channel decodes, three inverse transforms, the colour conversion.
// No failure: a channel that cannot be decoded (missing set, bad t, malformed record) is drawn
// from what was decoded of it (all 0.0 coefficients if nothing). Prints nothing.
void decode_tile(int sub, int level, int t);

// Decodes tile t of one channel file into `plane`. t outside the set's index, or a set
// without data, gives an all-0.0 plane and record_truncated. The result is informative only.
DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane,
                                 ChannelDecodeInfo* info = nullptr);
