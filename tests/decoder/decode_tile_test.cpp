// decode_tile and decode_tile_channel on tile sets held in memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "decoder/colour.h"
#include "decoder/decode_tile.h"
#include "decoder/lifting.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "store/data_set.h"
#include "tests/decoder/codec_test_util.h"

namespace {

// A tile set of `records` (one file's payload), index filled.
struct MemTileSet {
    TileSet set;
    std::vector<int32_t> index;
    Bytes payload;
    MemTileSet(const std::vector<Bytes>& records, bool compressed, uint8_t max_passes) {
        set.header = TileSetHeader{};
        set.header.compressed = compressed;
        set.header.merged_w = 64 * int32_t(records.size());
        set.header.merged_h = 64;
        set.header.tiles_x = int32_t(records.size());
        set.header.tiles_y = 1;
        set.header.max_passes = max_passes;
        for (const Bytes& r : records) {
            index.push_back(int32_t(payload.size()));
            payload.insert(payload.end(), r.begin(), r.end());
        }
        set.index = index.data();
        set.data = payload.data();
        set.data_len = int64_t(payload.size());
    }
};

class DecodeTile : public ::testing::Test {
  protected:
    void SetUp() override {
        build_scan_order();
        residual_tile.bpp = 4;
        residual_tile.w = residual_tile.h = 64;
        residual_tile.stride = 256;
        residual_tile.data = static_cast<uint8_t*>(std::malloc(16384));
        saved = residuals_level[kSub][kLevel];
    }
    void TearDown() override {
        residuals_level[kSub][kLevel] = saved;
        std::free(residual_tile.data);
        residual_tile.data = nullptr;
    }
    static constexpr int kSub = 5, kLevel = 3;
    ResidualLevel saved;
};

TEST_F(DecodeTile, ZeroRecordsGiveTheConstantResidual) {
    const Bytes zero = make_record(0, {}, {});
    MemTileSet r({zero, zero}, false, 7), g({zero, zero}, false, 7), b({zero, zero}, false, 7);
    residuals_level[kSub][kLevel] = ResidualLevel{&r.set, &g.set, &b.set};
    decode_tile(kSub, kLevel, 1);
    for (int row = 0; row < 64; ++row) {
        const uint8_t* a = residual_tile.data + row * 256;
        const uint8_t* z = a + 63 * 4;
        EXPECT_EQ(a[0], 117);
        EXPECT_EQ(a[1], 128);
        EXPECT_EQ(a[2], 115);
        EXPECT_EQ(a[3], 0);
        EXPECT_EQ(z[0], 109);
        EXPECT_EQ(z[1], 128);
        EXPECT_EQ(z[2], 107);
    }
    EXPECT_EQ(plane_y[0], -4.5f);
    EXPECT_EQ(plane_cr[63], -7.5f);
}

TEST_F(DecodeTile, MatchesTheReferencePipeline) {
    std::mt19937 rng(8);
    for (bool compressed : {false, true}) {
        std::vector<Bytes> recs[3];
        for (int t = 0; t < 6; ++t)
            for (int c = 0; c < 3; ++c) {
                float coeffs[4096];
                random_coefficients(rng, (t + c) % kPlaneKinds, coeffs);
                EncodedChannel ch;
                encode_channel(coeffs, t == 5 ? 1 : 128 + int(rng() % 128), 7, ch, nullptr);
                Bytes rec;
                append_record(rec, ch, compressed);
                recs[c].push_back(rec);
            }
        MemTileSet r(recs[0], compressed, 7), g(recs[1], compressed, 7), b(recs[2], compressed, 7);
        residuals_level[kSub][kLevel] = ResidualLevel{&r.set, &g.set, &b.set};
        for (int t = 0; t < 6; ++t) {
            decode_tile(kSub, kLevel, t);
            float p[3][4096];
            const TileSet* sets[3] = {&r.set, &g.set, &b.set};
            for (int c = 0; c < 3; ++c) {
                const uint8_t* rec = sets[c]->data + sets[c]->index[t];
                decode_channel_record_reference(rec, size_t(sets[c]->data_len - sets[c]->index[t]),
                                                compressed, 7, p[c]);
                inverse_wavelet_reference(p[c]);
            }
            EXPECT_TRUE(same_bits(plane_y, p[0], 4096));
            EXPECT_TRUE(same_bits(plane_cb, p[1], 4096));
            EXPECT_TRUE(same_bits(plane_cr, p[2], 4096));
            uint8_t want[16384];
            ycbcr_to_rgb_tile_reference(p[0], p[1], p[2], want, 256);
            ASSERT_EQ(std::memcmp(want, residual_tile.data, 16384), 0) << "tile " << t;
        }
    }
}

TEST_F(DecodeTile, BadTileNumbersAndMissingSetsDecodeNothing) {
    const Bytes rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80};
    MemTileSet r({rec}, false, 1);
    float plane[4096];
    ChannelDecodeInfo info;
    EXPECT_EQ(decode_tile_channel(r.set, 0, plane, &info), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 28.0f);
    for (int t : {-1, 1, 1000}) {
        EXPECT_EQ(decode_tile_channel(r.set, t, plane, &info), DecodeStatus::record_truncated);
        EXPECT_EQ(plane[0], 0.0f);
    }
    // Missing G and B sets: their planes decode as all 0.0.
    residuals_level[kSub][kLevel] = ResidualLevel{&r.set, nullptr, nullptr};
    decode_tile(kSub, kLevel, 0);
    const float* zero = inverse_wavelet_of_zero();
    EXPECT_EQ(plane_y[0], 28.0f + zero[0]);
    EXPECT_EQ(std::memcmp(plane_cb, zero, sizeof plane_cb), 0);
    // Out-of-range sub-image or level: nothing crashes, zero residual.
    decode_tile(-1, 2, 0);
    decode_tile(8, 2, 0);
    decode_tile(0, 99, 0);
    EXPECT_EQ(residual_tile.data[0], 117);
}

}  // namespace
