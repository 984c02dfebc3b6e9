// The encoder functions: records made by encode_channel + append_record decode (fast and
// reference decoder) to exactly the encoder's own reconstruction, for many random planes, stored
// and compressed; the forward transform and colour conversion invert the viewer's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "decoder/colour.h"
#include "decoder/ezw_decode.h"
#include "decoder/lifting.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "tests/decoder/codec_test_util.h"

namespace {

TEST(RoundTrip, DecodeGivesTheEncodersReconstruction) {
    build_scan_order();
    std::mt19937 rng(2024);
    float coeffs[4096], recon[4096], got[4096];
    int budget_hits = 0;
    for (int i = 0; i < 600; ++i) {
        const int kind = i % kPlaneKinds;
        random_coefficients(rng, kind, coeffs);
        int T = 2 + int(rng() % 254);
        if (i % 4 == 0) T = 128 + int(rng() % 128);  // the data set's usual 7-pass range
        const int passes = i % 5 == 0 ? 255 : 1 + int(rng() % 8);
        EncodedChannel ch;
        encode_channel(coeffs, T, passes, ch, recon);
        EXPECT_EQ(ch.dominant.size(), (ch.symbols + 3) / 4);
        EXPECT_EQ(ch.subordinate.size(), (ch.bits + 7) / 8);
        EXPECT_LE(ch.dominant.size(), kMaxDominantBytes);
        EXPECT_LE(ch.subordinate.size(), kMaxSubordinateBytes);
        budget_hits += ch.budget_pass >= 0;
        for (bool compressed : {false, true}) {
            Bytes rec;
            const size_t n = append_record(rec, ch, compressed, 1 + int(rng() % 12));
            ASSERT_EQ(n, rec.size());
            ChannelDecodeInfo info;
            const DecodeStatus st =
                decode_channel_record(rec.data(), rec.size(), compressed, passes, got, &info);
            ASSERT_EQ(st, ch.truncated ? DecodeStatus::short_streams : DecodeStatus::ok)
                << "plane " << i << " kind " << kind;
            std::string where;
            ASSERT_TRUE(same_bits(got, recon, 4096, &where)) << "plane " << i << " " << where;
            ASSERT_EQ(info.symbols_used, ch.symbols);
            ASSERT_EQ(info.bits_used, ch.bits);
            ASSERT_EQ(info.significant, ch.significant);
            ASSERT_EQ(info.passes, ch.passes);
            ASSERT_EQ(
                decode_channel_record_reference(rec.data(), rec.size(), compressed, passes, got),
                st);
            ASSERT_TRUE(same_bits(got, recon, 4096, &where)) << "reference, plane " << i;
        }
    }
    EXPECT_GT(budget_hits, 0);  // kind 6 exceeds 16384 symbols over seven passes
}

TEST(RoundTrip, SmallSymbolBudgets) {
    // The budget path with budgets small enough for ordinary planes: cheap passes, and cuts.
    build_scan_order();
    std::mt19937 rng(4048);
    float coeffs[4096], recon[4096], got[4096];
    int cheap_fit = 0, cut = 0;
    for (int i = 0; i < 300; ++i) {
        random_coefficients(rng, i % kPlaneKinds, coeffs);
        const uint32_t budget = 1 + rng() % 6000;
        EncodedChannel ch;
        encode_channel(coeffs, 128 + int(rng() % 128), 7, ch, recon, budget);
        ASSERT_LE(ch.symbols, budget);
        cheap_fit += ch.budget_pass >= 0 && !ch.truncated;
        cut += ch.truncated;
        Bytes rec;
        append_record(rec, ch, i % 2 == 0);
        const DecodeStatus st = decode_channel_record(rec.data(), rec.size(), i % 2 == 0, 7, got);
        ASSERT_EQ(st, ch.truncated ? DecodeStatus::short_streams : DecodeStatus::ok) << i;
        std::string where;
        ASSERT_TRUE(same_bits(got, recon, 4096, &where)) << i << " " << where;
    }
    EXPECT_GT(cheap_fit, 10);
    EXPECT_GT(cut, 10);
}

TEST(RoundTrip, EncoderChoicesFollowTheRules) {
    build_scan_order();
    // A single coefficient per band at position 1 (tree of 1): the DC is an isolated zero only if
    // something in its tree is significant; position 1 gets the nearer of 5T/4 and 7T/4.
    float c[4096] = {};
    float rec[4096];
    EncodedChannel ch;
    c[1] = 21.0f;  // T = 16: 5T/4 = 20, 7T/4 = 28 -> 20 (bit 0)
    encode_channel(c, 16, 1, ch, rec);
    EXPECT_EQ(rec[1], 20.0f);
    EXPECT_EQ(ch.symbols, 4u + 4u);  // 2 1 0 0, then the children of 1: four zerotree roots
    EXPECT_EQ(ch.dominant[0], 0x90);
    EXPECT_EQ(ch.dominant[1], 0x00);
    EXPECT_EQ(ch.bits, 1u);
    c[1] = -25.0f;  // nearer 28
    encode_channel(c, 16, 1, ch, rec);
    EXPECT_EQ(rec[1], -28.0f);
    EXPECT_EQ(ch.subordinate[0], 0x80);
    c[1] = 24.0f;  // tie: 5T/4
    encode_channel(c, 16, 1, ch, rec);
    EXPECT_EQ(rec[1], 20.0f);
    c[1] = 1000.0f;  // beyond 2T: capped at 7T/4
    encode_channel(c, 16, 1, ch, rec);
    EXPECT_EQ(rec[1], 28.0f);
    // Everything below the threshold: DC zerotree root, one symbol per pass.
    c[1] = 15.0f;
    encode_channel(c, 255, 7, ch, rec);
    // T = 255, 127, 63, 31: DC root (1 symbol each); T = 15: DC isolated zero, 1 significant,
    // 64 and 65 roots, the four children of 1 roots (8); T = 7, 3: DC root again (1 each).
    EXPECT_EQ(ch.symbols, 4u + 8u + 2u);
    EXPECT_EQ(rec[1], 18.0f);  // T = 15: floor(75/4) = 18 or floor(105/4) = 26 -> 18
    c[1] = 2.0f;               // below the last threshold (3): never significant
    encode_channel(c, 255, 7, ch, rec);
    EXPECT_EQ(ch.symbols, 7u);
    EXPECT_EQ(rec[1], 0.0f);
    c[1] = 3.0f;  // significant at T = 3: 3 or 5 -> 3
    encode_channel(c, 255, 7, ch, rec);
    EXPECT_EQ(ch.symbols, 6u + 8u);
    EXPECT_EQ(rec[1], 3.0f);
    // Thresholds 0 and 1: no pass, empty streams.
    for (int T : {0, 1}) {
        encode_channel(c, T, 7, ch, rec);
        EXPECT_EQ(ch.symbols, 0u);
        EXPECT_TRUE(ch.dominant.empty());
        for (float v : rec) EXPECT_EQ(v, 0.0f);
    }
}

TEST(RoundTrip, ZerotreeOnlyWhenEveryInsignificantDescendantIsBelowT) {
    build_scan_order();
    std::mt19937 rng(77);
    float c[4096], rec[4096];
    for (int i = 0; i < 200; ++i) {
        random_coefficients(rng, i % kPlaneKinds, c);
        EncodedChannel ch;
        const int T = 2 + int(rng() % 254);
        encode_channel(c, T, 8, ch, rec);
        if (ch.budget_pass >= 0) continue;
        // Exact passes: every coefficient >= the last pass's threshold became significant, and
        // kept its sign; those below the last threshold stayed 0.
        int Tlast = 0;
        for (int t = T, k = 0; k < 8 && t >= 2; ++k, t /= 2) Tlast = t;
        for (int p = 0; p < 4096; ++p) {
            if (std::fabs(c[p]) >= float(Tlast) && Tlast >= 2) {
                ASSERT_NE(rec[p], 0.0f) << p;
                ASSERT_EQ(rec[p] < 0, c[p] < 0) << p;
            } else {
                ASSERT_EQ(rec[p], 0.0f) << p;
            }
        }
    }
}

TEST(RoundTrip, HeaderAndRecordBytes) {
    Bytes h;
    append_tile_file_header(h, true, 4096, 2048, 7);
    ASSERT_EQ(h.size(), 24u);
    EXPECT_EQ(h[3], 1);
    EXPECT_EQ(h[4] | h[5] << 8, 4096);
    EXPECT_EQ(h[8] | h[9] << 8, 2048);
    EXPECT_EQ(h[12], 64);
    EXPECT_EQ(h[16], 32);
    EXPECT_EQ(h[20], 7);
    EncodedChannel ch;
    ch.threshold = 0x10;
    ch.dominant = {0x40};
    ch.subordinate = {0x80};
    Bytes r;
    append_record(r, ch, false);
    EXPECT_EQ(r, (Bytes{0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80}));
}

TEST(RoundTrip, ForwardWaveletInvertsTheViewersTransform) {
    std::mt19937 rng(31);
    float x[4096], y[4096];
    for (int i = 0; i < 50; ++i) {
        random_samples(rng, x);
        std::memcpy(y, x, sizeof x);
        forward_wavelet(y);
        inverse_wavelet_reference(y);
        for (int p = 0; p < 4096; ++p) ASSERT_NEAR(y[p], x[p], 1e-3) << p;
    }
    // The all-zero coefficient plane comes from the viewer's all-zero result.
    std::memcpy(y, inverse_wavelet_of_zero(), sizeof y);
    forward_wavelet(y);
    for (int p = 0; p < 4096; ++p) ASSERT_NEAR(y[p], 0.0f, 1e-4) << p;
    // The viewer's picture of a DC-only plane goes back to that plane.
    std::memset(y, 0, sizeof y);
    y[0] = 28.0f;
    inverse_wavelet_reference(y);
    forward_wavelet(y);
    EXPECT_NEAR(y[0], 28.0f, 1e-4);
    for (int p = 1; p < 4096; ++p) ASSERT_NEAR(y[p], 0.0f, 1e-4) << p;
}

TEST(RoundTrip, ColourConversionInvertsTheViewersMatrix) {
    std::mt19937 rng(41);
    float r[4096], g[4096], b[4096], y[4096], cb[4096], cr[4096];
    random_samples(rng, r);
    random_samples(rng, g);
    random_samples(rng, b);
    rgb_to_ycbcr(r, g, b, y, cb, cr, 4096);
    for (int i = 0; i < 4096; ++i) {
        const double R = double(1.402f) * cr[i] + y[i];
        const double G = y[i] - (double(0.34413f) * cb[i] + double(0.71414f) * cr[i]);
        const double B = double(1.772f) * cb[i] + y[i];
        ASSERT_NEAR(R, r[i], 1e-3);
        ASSERT_NEAR(G, g[i], 1e-3);
        ASSERT_NEAR(B, b[i], 1e-3);
    }
}

TEST(RoundTrip, WholeTilePipelineIsClose) {
    // residual RGB -> YCbCr -> forward -> encode (high quality) -> decode -> viewer pixels.
    build_scan_order();
    std::mt19937 rng(51);
    std::uniform_real_distribution<float> u(-60.0f, 60.0f);
    float ch[3][4096], coeffs[3][4096], got[3][4096];
    for (int p = 0; p < 4096; ++p) {
        const float base =
            30.0f * std::sin(float(p % 64) * 0.2f) + 20.0f * std::cos(float(p / 64) * 0.15f);
        ch[0][p] = base + u(rng) * 0.1f;
        ch[1][p] = -base * 0.5f;
        ch[2][p] = base * 0.25f + 5.0f;
    }
    rgb_to_ycbcr(ch[0], ch[1], ch[2], coeffs[0], coeffs[1], coeffs[2], 4096);
    for (int c = 0; c < 3; ++c) {
        forward_wavelet(coeffs[c]);
        EncodedChannel enc;
        encode_channel(coeffs[c], 255, 255, enc, nullptr);  // 7 passes down to T = 3
        Bytes rec;
        append_record(rec, enc, true);
        ASSERT_EQ(decode_channel_record(rec.data(), rec.size(), true, 255, got[c]),
                  DecodeStatus::ok);
        inverse_wavelet(got[c]);
    }
    uint8_t px[64 * 256];
    ycbcr_to_rgb_tile(got[0], got[1], got[2], px, 256);
    double err = 0;
    for (int p = 0; p < 4096; ++p)
        for (int c = 0; c < 3; ++c)
            err += std::fabs(double(px[(p / 64) * 256 + (p % 64) * 4 + c]) - (128.0 + ch[c][p]));
    EXPECT_LT(err / (3 * 4096), 6.0);  // lossy, but the picture survives
}

}  // namespace
