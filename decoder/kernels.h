#pragma once
// The decoder's part of the kernel table (render/kernels.h holds the whole table, PixelKernels,
// and its switch): the EZW passes, the inverse transform and the colour conversion, filled with
// the plain reference versions and then overridden by the SSE2, AVX2 and BMI2 versions the
// processor has (decoder_kernels_for). Every version gives bit-identical results, which the tests
// prove against the reference.
#include <cstddef>
#include <cstdint>

#include "decoder/ezw_decode.h"
#include "decoder/tile_filter.h"

// One channel record -> coefficient plane (decode_channel_record's contract).
using DecodeChannelFn = DecodeStatus (*)(const uint8_t* record, size_t record_len, bool compressed,
                                         int max_passes, float* plane, ChannelDecodeInfo* info);
// Inverse transform of one 64 x 64 plane in place.
using InverseWaveletFn = void (*)(float* plane);
// Three planes -> 64 x 64 four-byte pixels, rows `stride` bytes apart.
using ColourFn = void (*)(const float* y, const float* cb, const float* cr, uint8_t* out,
                          int stride);

struct DecoderKernels {
    const char* name;  // "reference", "sse2", "avx2", "avx2+bmi2": the widest set in use
    DecodeChannelFn decode_channel;
    InverseWaveletFn inverse_wavelet;
    ColourFn ycbcr_to_rgb;
    TileFilterRowFn tile_filter_row;  // one row of an HTJ2K tile's restoration filter
};

// What the processor offers. fast_bmi2: BMI2 whose pdep/pext are not microcoded (AMD before
// family 19h runs them in microcode, slower than the plain EZW scan).
struct CpuFeatures {
    bool sse2 = false;
    bool avx2 = false;
    bool fast_bmi2 = false;  // implies avx2 and popcnt
};

// The one place that asks the processor.
CpuFeatures detect_cpu_features();
// Every entry the plain reference version.
DecoderKernels reference_decoder_kernels();
// The reference entries overridden by the versions `cpu` can run (features this build has no code
// for are ignored, as are features the processor lacks); `name` says the widest set in use.
DecoderKernels decoder_kernels_for(const CpuFeatures& cpu);

// The start-up switch: true when QUORVIK_REFERENCE_KERNELS is set in the environment (non-empty,
// not "0"), which asks for the reference versions everywhere.
bool reference_kernels_requested();

// The decoder's entries of the table the pixel path uses: those of kernels() (render/kernels.h)
// once that table exists; before, the same start-up choice made here.
const DecoderKernels& decoder_kernels();
// Points decoder_kernels() at the whole table's decoder entries; render/kernels.cpp calls it once,
// when it makes the table.
void use_decoder_kernels(const DecoderKernels* table);
