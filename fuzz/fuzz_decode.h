#pragma once
// Checks shared by the decoding fuzz targets: what any channel decode must satisfy, whatever the
// record held.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "decoder/decode_tile.h"
#include "decoder/ezw_decode.h"
#include "fuzz/fuzz_check.h"
#include "store/data_set.h"
#include "store/tile_file.h"

// One decoded channel plane against the decoder's own account of the decode. A significant
// coefficient is +-floor(5T/4) or +-floor(7T/4) for a threshold T of 2..255, so never 0 and never
// above 446 in magnitude; everything else stays 0.0. Failed streams leave the plane all 0.0, and
// the decode never consumes more symbols or bits than its streams hold.
inline void fuzz_check_plane(const float* plane, DecodeStatus status, const ChannelDecodeInfo& info,
                             uint32_t sub_len) {
    FUZZ_CHECK(info.status == status);
    FUZZ_CHECK(info.dominant_bytes <= kMaxDominantBytes);
    FUZZ_CHECK(info.symbols_used <= 4 * info.dominant_bytes);
    FUZZ_CHECK(uint64_t(info.bits_used) <= 8 * uint64_t(sub_len));
    int nonzero = 0;
    for (int p = 0; p < kTileCoeffs; ++p) {
        const float v = plane[p];
        FUZZ_CHECK(std::isfinite(v) && std::fabs(v) <= 446.0f && v == std::trunc(v));
        if (v != 0.0f) ++nonzero;
    }
    FUZZ_CHECK(nonzero == info.significant);
    if (status != DecodeStatus::ok && status != DecodeStatus::short_streams)
        FUZZ_CHECK(info.significant == 0);
}

// Decodes every tile of an accepted tile file through the viewer's entry point, and one slot past
// the end, which must come back empty rather than read a stray index entry.
inline void fuzz_decode_every_tile(const TileSet& set) {
    static float plane[kTileCoeffs];
    const int slots = set.header.tiles_x * set.header.tiles_y;
    for (int t = 0; t <= slots; ++t) {
        ChannelDecodeInfo info;
        const DecodeStatus status = decode_tile_channel(set, t, plane, &info);
        if (t == slots) {
            FUZZ_CHECK(status == DecodeStatus::record_truncated);
            FUZZ_CHECK(info.significant == 0);
            continue;
        }
        // An accepted file's records all lie inside it, so no record may come back truncated.
        FUZZ_CHECK(status != DecodeStatus::record_truncated);
        fuzz_check_plane(plane, status, info, read_u32le(set.data + set.index[t] + 5));
    }
}

// The viewer's whole tile path on a set: the three channel decodes, the inverse transforms and
// the colour conversion into residual_tile, with the set standing in for all three channels of
// sub-image 0 at `level`. Extreme coefficient planes must not overflow any conversion (UBSan).
inline void fuzz_decode_tiles_to_pixels(TileSet& set, int level) {
    if (!residual_tile.data) {
        residual_tile.w = residual_tile.h = 64;
        residual_tile.bpp = 4;
        residual_tile.stride = 64 * 4;
        residual_tile.data = static_cast<uint8_t*>(calloc(64 * 64, 4));
        FUZZ_CHECK(residual_tile.data != nullptr);
    }
    ResidualLevel& entry = residuals_level[0][level];
    entry.R = entry.G = entry.B = &set;
    // A whole tile costs about as much as a hundred channel decodes under the sanitizers, so only
    // tile 0 and the first tiles with any coefficient go all the way to pixels.
    static float plane[kTileCoeffs];
    const int slots = set.header.tiles_x * set.header.tiles_y;
    int with_content = 0;
    for (int t = 0; t < slots && with_content < 8; ++t) {
        ChannelDecodeInfo info;
        decode_tile_channel(set, t, plane, &info);
        if (t > 0 && info.significant == 0) continue;
        with_content += info.significant > 0;
        decode_tile(0, level, t);
    }
    entry = ResidualLevel{};
}
