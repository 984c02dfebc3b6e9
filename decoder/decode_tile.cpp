// decode_tile, the tile decoder's entry point, and decode_tile_channel.
#include "decoder/decode_tile.h"

#include <cstring>

#include "decoder/colour.h"
#include "decoder/lifting.h"
#include "store/data_set.h"
#include "store/render_buffers.h"

float plane_y[kTileCoeffs];
float plane_cb[kTileCoeffs];
float plane_cr[kTileCoeffs];

DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane, ChannelDecodeInfo* info) {
    const int64_t slots = int64_t(set.header.tiles_x) * int64_t(set.header.tiles_y);
    int32_t offset = -1;
    if (set.index != nullptr && set.data != nullptr && t >= 0 && t < slots) offset = set.index[t];
    if (offset < 0 || offset >= set.data_len) {
        std::memset(plane, 0, sizeof(float) * kTileCoeffs);
        if (info) *info = ChannelDecodeInfo{DecodeStatus::record_truncated};
        return DecodeStatus::record_truncated;
    }
    return decode_channel_record(set.data + offset, size_t(set.data_len - offset),
                                 set.header.compressed != 0, set.header.max_passes, plane, info);
}

namespace {
// One channel: decode, then transform. An all-0.0 coefficient plane (nothing became significant)
// is not transformed: its transform is the constant inverse_wavelet_of_zero(), bit for bit.
void decode_channel(const TileSet* set, int t, float* plane) {
    ChannelDecodeInfo info;
    if (set != nullptr) decode_tile_channel(*set, t, plane, &info);
    if (set == nullptr || info.significant == 0)
        std::memcpy(plane, inverse_wavelet_of_zero(), sizeof(float) * kTileCoeffs);
    else
        inverse_wavelet(plane);
}
}  // namespace

void decode_tile(int sub, int level, int t) {
    const ResidualLevel* rl = nullptr;
    if (sub >= 0 && sub < kSubImages && level >= 0 && level < kLevels)
        rl = &residuals_level[sub][level];
    decode_channel(rl ? rl->R : nullptr, t, plane_y);
    decode_channel(rl ? rl->G : nullptr, t, plane_cb);
    decode_channel(rl ? rl->B : nullptr, t, plane_cr);
    ycbcr_to_rgb(plane_y, plane_cb, plane_cr, residual_tile);
}
