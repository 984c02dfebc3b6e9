#pragma once
// A bounded walk over the main header and tile of an HTJ2K codestream, done before any byte
// reaches OpenJPH: the library trusts its input more than a viewer can (sizes it would allocate
// for, lengths it would read to), so the decoder hands it only codestreams shaped like the ones
// encoder/htj2k_encode.h writes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "decoder/tile_filter.h"

// Most wavelet decompositions a codestream may ask for: a 1024-pixel side has nine levels of at
// least three samples; more would only mean damage.
constexpr int kHtj2kMaxLevels = 9;
// Largest block side the adapters code (one codestream tile).
constexpr int kHtj2kMaxSide = 1024;

// Decompositions for a width x height block when `wanted` are asked for: the most, up to
// `wanted`, for which every level still transforms at least three samples in each direction.
// OpenJPH 0.9's irreversible wavelet mangles a level that is two samples high, or that follows a
// level one sample high or wide (its own reader and OpenJPEG agree on the wrong pixels), so the
// encoder stops before such a level and the decoder refuses a codestream that does not.
int htj2k_levels_for(int width, int height, int wanted);

struct Htj2kCodestreamInfo {
    int levels = 0;     // wavelet decompositions
    TileFilter filter;  // the restoration filter a comment carries; off when none does
};

// Checks that bytes[0, n) is one codestream of a `width` x `height` 8-bit RGB picture coded as
// we code it: SOC; SIZ with these dimensions in one tile at the origin, three unsigned 8-bit
// components at full resolution; then, in any order, CAP (HT only), one COD (one layer, no
// precincts, RPCL order, no more levels than htj2k_levels_for allows, 64x64 HT code blocks,
// irreversible 9/7, colour transform), one QCD with a step for each band that fits a 32-bit
// decoder, and comments (at most one of them our restoration filter, which must be sound); then a
// single tile (comments at most before SOD) whose length ends it where EOC begins, its packets
// sound (decoder/htj2k_packets.h), and EOC as the last two bytes. Returns "" and fills `info`,
// otherwise what is wrong.
std::string check_htj2k_codestream(const uint8_t* bytes, size_t n, int width, int height,
                                   Htj2kCodestreamInfo& info);
