// decode_tile, the tile decoder's entry point, and decode_tile_channel.
#include "decoder/decode_tile.h"

#include <cstring>

#include "decoder/colour.h"
#include "decoder/lifting.h"
#include "store/data_set.h"

RawImage residual_tile;

float plane_y[kTileCoeffs];
float plane_cb[kTileCoeffs];
float plane_cr[kTileCoeffs];

DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane, ChannelDecodeInfo* info,
                                 DecodeChannelFn decode) {
    const int64_t slots = int64_t(set.header.tiles_x) * int64_t(set.header.tiles_y);
    int32_t offset = -1;
    if (set.index != nullptr && set.data != nullptr && t >= 0 && t < slots) offset = set.index[t];
    if (offset < 0 || offset >= set.data_len) {
        std::memset(plane, 0, sizeof(float) * kTileCoeffs);
        if (info) *info = ChannelDecodeInfo{DecodeStatus::record_truncated};
        return DecodeStatus::record_truncated;
    }
    return decode(set.data + offset, size_t(set.data_len - offset), set.header.compressed != 0,
                  set.header.max_passes, plane, info);
}

DecodeStatus decode_tile_channel(const TileSet& set, int t, float* plane, ChannelDecodeInfo* info) {
    return decode_tile_channel(set, t, plane, info, decoder_kernels().decode_channel);
}

namespace {
// One channel: decode, then transform. An all-0.0 coefficient plane (nothing became significant)
// is not transformed: its transform is the constant inverse_wavelet_of_zero(), bit for bit.
void decode_channel(const TileSet* set, int t, float* plane, const DecoderKernels& k) {
    ChannelDecodeInfo info;
    if (set != nullptr) decode_tile_channel(*set, t, plane, &info, k.decode_channel);
    if (set == nullptr || info.significant == 0)
        std::memcpy(plane, inverse_wavelet_of_zero(), sizeof(float) * kTileCoeffs);
    else
        k.inverse_wavelet(plane);
}
}  // namespace

void decode_tile_into(const DataSet& data, int sub, int level, int t, const DecoderKernels& k,
                      float* const planes[3], uint8_t* residual, int stride) {
    const ResidualLevel* rl = nullptr;
    if (sub >= 0 && sub < kSubImages && level >= 0 && level < kLevels)
        rl = &data.residuals[sub][level];
    decode_channel(rl ? rl->R : nullptr, t, planes[0], k);
    decode_channel(rl ? rl->G : nullptr, t, planes[1], k);
    decode_channel(rl ? rl->B : nullptr, t, planes[2], k);
    if (residual != nullptr) k.ycbcr_to_rgb(planes[0], planes[1], planes[2], residual, stride);
}

void decode_tile(int sub, int level, int t) {
    float* const planes[3] = {plane_y, plane_cb, plane_cr};
    decode_tile_into(viewer_data, sub, level, t, decoder_kernels(), planes, residual_tile.data,
                     residual_tile.stride > 0 ? residual_tile.stride : 256);
}
