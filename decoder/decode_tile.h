#pragma once
// The tile decoder's entry point: three channel records -> a residual tile.
#include "decoder/ezw_decode.h"
#include "decoder/kernels.h"
#include "store/raw_image.h"
struct DataSet;
struct TileSet;

// Decodes tile t of sub-image `sub` (0..7) at `level` (2..5) of `data` into `residual` (64 x 64
// four-byte pixels, rows `stride` bytes apart): three channel decodes into planes[0..2] (Y from
// the R file, Cb from G, Cr from B), three inverse transforms, the colour conversion, all with
// the kernels of `k`. No failure: a channel that cannot be decoded (missing set, bad t, malformed
// record) is drawn from what was decoded of it (all 0.0 coefficients if nothing). Prints nothing,
// touches nothing but its arguments: safe on any thread.
void decode_tile_into(const DataSet& data, int sub, int level, int t, const DecoderKernels& k,
                      float* const planes[3], uint8_t* residual, int stride);

// Planes of the last tile decode_tile decoded: coefficients after decode_tile_channel, samples
// after inverse_wavelet.
extern float plane_y[kTileCoeffs];
extern float plane_cb[kTileCoeffs];
extern float plane_cr[kTileCoeffs];

// The work image decode_tile writes: 64 x 64 four-byte pixels (byte 0 red, 1 green, 2 blue),
// allocated by the viewer's start-up with its other work images.
extern RawImage residual_tile;

// The viewer's single-threaded form: tile t of the viewer's data set into residual_tile, through
// plane_y, plane_cb and plane_cr, with the kernel table.
void decode_tile(int sub, int level, int t);

// Decodes tile t of one channel file into `plane` with the kernel table's decoder. t outside the
// set's index, or a set without data, gives an all-0.0 plane and record_truncated. The result is
// informative only.
DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane,
                                 ChannelDecodeInfo* info = nullptr);
DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane, ChannelDecodeInfo* info,
                                 DecodeChannelFn decode);
