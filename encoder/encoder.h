#pragma once
// Encoder side of the tile codec. Used by the
// round-trip tests and by the data set builder. Everything here is pure: no globals of the
// viewer, no printing, thread-safe (each thread may encode its own tiles at the same time).
//
// Pipeline for one 64 x 64 tile of one sub-image and level (the builder's job, in this order):
//
//   residual (RGB, per component: wanted pixel - prediction, i.e. the byte the viewer should put in
//             residual_tile minus 128)
//     -> rgb_to_ycbcr          three float planes Y, Cb, Cr (4096 values each, row by row)
//     -> forward_wavelet       each plane in place: 64 x 64 coefficients in the pyramid layout
//     -> encode_channel        EZW symbols + refinement bits, and the exact coefficient plane the
//                              viewer will decode (`reconstruction`)
//     -> append_record         the tile record bytes appended to the file's payload
//
// The viewer then shows inverse_wavelet(reconstruction) per plane and ycbcr_to_rgb of the three
// (decoder/lifting.h, decoder/colour.h); call those on the reconstructions to get exactly the
// residual bytes the viewer will produce (e.g. for closed-loop prediction of the next level).
//
// Channel order in a data set: the "R" file holds Y, "G" holds Cb, "B" holds Cr.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "decoder/ezw_decode.h"  // kTileCoeffs, kMaxDominantBytes, kMaxSubordinateBytes

// ---- Colour -------------------------------------------------------------------------------------

// RGB -> YCbCr, the inverse of the viewer's matrix (R = 1.402 Cr + Y,
// G = Y - (0.34413 Cb + 0.71414 Cr), B = 1.772 Cb + Y, with the constants as 32-bit floats).
// Works on signed residual values (no 128 offset): r, g, b in, y, cb, cr out, `count` values each.
// Evaluated in double, stored as float. In-place use (y == r etc.) is allowed.
void rgb_to_ycbcr(const float* r, const float* g, const float* b, float* y, float* cb, float* cr,
                  int count);

// ---- Wavelet ------------------------------------------------------------------------------------

// Forward six-level 5/3 lifting transform of one 64 x 64 plane in place (samples -> pyramid
// coefficients), the algebraic inverse of the viewer's inverse_wavelet (same symmetric extension,
// the same +1 / +2 offsets, no scaling). For n = 64, 32, ..., 2 on the top-left n x n block: rows
// first, then columns (the viewer undoes columns first, then rows, from n = 2 up). Every expression
// is evaluated in double and stored as a 32-bit float, so inverse_wavelet(forward_wavelet(x)) is x
// up to float rounding (not bit-exact: that is the nature of float lifting; the codec is lossy).
void forward_wavelet(float* plane);

// ---- EZW channel encoder ------------------------------------------------------------------------

// One coded channel of one tile: the two streams before any compression.
struct EncodedChannel {
    uint8_t threshold = 0;             // start threshold T as written in the record
    std::vector<uint8_t> dominant;     // 2-bit symbols, four per byte, first in the top bits
    std::vector<uint8_t> subordinate;  // refinement bits, eight per byte, first in bit 7
    uint32_t symbols = 0;              // symbols used (dominant.size() == ceil(symbols / 4))
    uint32_t bits = 0;                 // bits used (subordinate.size() == ceil(bits / 8))
    int passes = 0;                    // dominant passes the decoder completes on this record
    int significant = 0;               // coefficients that became significant
    // Passes from this one on were coded "cheaply" (every visited coefficient a zerotree root) to
    // keep the dominant stream within the symbol budget; -1 when every pass is exact.
    int budget_pass = -1;
    // Even cheap passes did not fit: the symbol stream was cut at the budget, so the decoder stops
    // this channel early (it reports DecodeStatus::short_streams), keeping what was decoded. This
    // happens only when the finest bands hold thousands of insignificant coefficients under
    // significant parents for six or seven passes (they cost one symbol each per pass and no
    // zerotree can cover them); a builder may use a smaller max_passes for the file, or accept
    // the (well-defined, slightly coarser) tile.
    bool truncated = false;
};

// Encodes one coefficient plane (pyramid layout, 4096 floats row by row) with the viewer's scan
// order and coefficient tree:
//   - threshold: start threshold, 0..255 (0 and 1 run no pass: empty streams, all-zero result);
//   - max_passes: must equal the max_passes byte of the header of the file the record goes into
//     (the decoder runs passes while pass < max_passes and T >= 2, T halving in integers);
//   - a coefficient becomes significant in the first pass whose threshold T has |c| >= T; its
//     refinement bit picks floor(5T/4) or floor(7T/4), whichever is nearer to |c| (ties: 5T/4);
//   - an insignificant coefficient is coded as zerotree root only when every still-insignificant
//     descendant is below T, otherwise as isolated zero.
// `reconstruction` (4096 floats, may be null) receives exactly the plane the decoder produces from
// the resulting record (0.0 or +-m per coefficient). `out` is overwritten.
// `max_symbols` is the dominant stream budget (the format's limit of 16384 unless a test wants a
// smaller one).
void encode_channel(const float* coeffs, int threshold, int max_passes, EncodedChannel& out,
                    float* reconstruction, uint32_t max_symbols = kMaxDominantSymbols);

// Largest |coefficient| of a plane; a convenient basis for choosing the start threshold (a
// coefficient c is coded at all only if |c| >= the last pass's threshold, and values of 2T or
// more are capped at floor(7T/4) by the first pass).
float max_abs_coefficient(const float* coeffs);

// ---- Record writing -----------------------------------------------------------------------------

// Appends one tile record (threshold, dom_len, sub_len little-endian, dominant stream,
// subordinate stream) to `out`. compress = true: the dominant stream is written as a zlib stream
// (for files whose header byte `compressed` is nonzero; every record of a file must agree);
// `zlib_level` 1..12 (libdeflate levels; 9 is zlib's best-compression equivalent). An empty
// dominant stream is still written as a (tiny) zlib stream when compressing. Returns the number of
// bytes appended.
size_t append_record(std::vector<uint8_t>& out, const EncodedChannel& channel, bool compress,
                     int zlib_level = 9);

// Tile file header, 24 bytes, appended to `out`. merged_w / merged_h are the
// sub-image's size at the level (1024 << (level - 1)), tiles = merged / 64.
void append_tile_file_header(std::vector<uint8_t>& out, bool compressed, int32_t merged_w,
                             int32_t merged_h, uint8_t max_passes);
