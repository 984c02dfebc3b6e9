#pragma once
// The kernel table of the pixel path: every routine a tile or a frame goes through, from the EZW
// passes to the drawing, as one table of function pointers. It is filled once at start-up with
// the plain reference versions and then overridden by the SSE2, AVX2 and BMI2 versions the
// processor has (kernels_for; the decoder's entries come from decoder/kernels.h); every version
// gives bit-identical results, which the tests prove against the reference. One switch,
// force_reference_kernels (or QUORVIK_REFERENCE_KERNELS=1 in the environment at start-up), puts
// the reference versions back everywhere: quorvik-tool's --plain and bench --baseline, the tests
// and the benchmarks use it.
//
// The table is read by every thread that makes or draws tiles; change it only between frames.
#include <cstddef>
#include <cstdint>

#include "decoder/kernels.h"

struct RawImage;
struct TileCorners;  // render/raster.h
struct ViewRect;     // render/view.h
struct FrameRows;    // render/raster.h
struct DrawScratch;  // render/raster.h

// One doubling step of the tile prediction (render/synth.h).
using UpsampleFn = void (*)(const uint8_t* source, int w, int h, int stride, int bpp, int ox,
                            int oz, uint8_t* target);
// The 64 x 64 core of a prediction plus a residual tile (zero point 127, damped border) -> the
// final tile (render/synth.h).
using AddResidualFn = void (*)(const uint8_t* prediction, int prediction_stride,
                               const uint8_t* residual, int residual_stride, uint8_t* out,
                               int out_stride);
// One tile (padded 0x00RRGGBB words) projected onto rows of the frame (render/raster.h).
using DrawTileFn = void (*)(const FrameRows& rows, const TileCorners& corners, const uint32_t* tile,
                            bool bilinear, DrawScratch& scratch);
// Level 1 from the packed base textures onto rows of the frame (render/raster.h).
using DrawBaseFn = void (*)(const FrameRows& rows, const ViewRect& rect,
                            const RawImage* packed_textures, bool bilinear, DrawScratch& scratch);

// The decoder's entries (name, decode_channel, inverse_wavelet, ycbcr_to_rgb), then the
// renderer's.
struct PixelKernels : DecoderKernels {
    UpsampleFn upsample_step;
    AddResidualFn add_residual;
    DrawTileFn draw_tile;
    DrawBaseFn draw_base;
};

// Every entry the plain reference version.
PixelKernels reference_kernels();
// The reference table overridden by the versions `cpu` can run (features this build has no code
// for are ignored, as are features the processor lacks).
PixelKernels kernels_for(const CpuFeatures& cpu);

// The table the pixel path uses (the decoder reads its entries through decoder_kernels()).
const PixelKernels& kernels();
// Installs a table (tests and benchmarks comparing versions).
void set_kernels(const PixelKernels& table);
// The switch: true installs reference_kernels(), false the best table for this processor.
void force_reference_kernels(bool on);
bool reference_kernels_forced();
