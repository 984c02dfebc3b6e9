// The encoder's rate-distortion choices and the fitted base texture: the chosen planes decode to
// exactly what the encoder assumed, within the stream limits, and the fitted base predicts better
// than the decimated one.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <cmath>
#include <cstring>
#include <random>

#include "decoder/ezw_decode.h"
#include "decoder/lifting.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "builder/base_fit.h"
#include "builder/pyramid.h"
#include "builder/rd_quant.h"
#include "builder/tile_coder.h"

using builder::Planes;
using builder::Pool;

namespace {

// A coefficient plane shaped like a real tile's: large coarse bands, sparse fine detail whose
// density and size vary, and rare outliers.
void coefficient_plane(std::mt19937& rng, float* plane, float scale, float density) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int p = 0; p < kTileCoeffs; ++p) {
        const int m = std::max(p / 64, p % 64);
        const float band = m == 0 ? 6.0f : 48.0f / float(m + 6);
        float v = u(rng) < density ? scale * band * std::log(1.0f / (u(rng) + 1e-6f)) : 0.0f;
        if (u(rng) < 0.003f) v *= 20.0f;
        plane[p] = u(rng) < 0.5f ? -v : v;
    }
}

// The decoded plane of one record, from both of the viewer's decoders (which must agree).
bool decode_both(const EncodedChannel& ch, bool compress, float* out, ChannelDecodeInfo& info) {
    std::vector<uint8_t> rec;
    append_record(rec, ch, compress);
    float reference[kTileCoeffs];
    ChannelDecodeInfo ref_info;
    decode_channel_record(rec.data(), rec.size(), compress, builder::kMaxPasses, out, &info);
    decode_channel_record_reference(rec.data(), rec.size(), compress, builder::kMaxPasses,
                                    reference, &ref_info);
    return std::memcmp(out, reference, sizeof reference) == 0 && info.status == ref_info.status;
}

}  // namespace

TEST(RdQuant, VectorisedQuantizerAndPruningMatchThePlainOnes) {
    std::mt19937 rng(7);
    const builder::CoefficientWeights& cw = builder::coefficient_weights();
    float plane[kTileCoeffs], a[kTileCoeffs], b[kTileCoeffs];
    for (int trial = 0; trial < 60; ++trial) {
        coefficient_plane(rng, plane, 0.5f + float(trial % 7), 0.1f + 0.015f * float(trial));
        const int ch = trial % 3, start = 2 + int(rng() % 254), passes = 1 + trial % 7;
        const float price = float(1 << (trial % 12));
        const builder::StartGrid grid(start, passes);
        builder::quantize_plane(plane, cw.w[ch], grid, price, a);
        builder::quantize_plane_plain(plane, cw.w[ch], grid, price, b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << trial;
        // Pruning by position and by the plain walk of the tree in scan order.
        const float visit = price * float(trial % 5) * 0.5f;
        builder::prune_trees(plane, cw.w[ch], price, visit, a);
        builder::prune_trees_plain(plane, cw.w[ch], price, visit, b);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << trial;
    }
}

TEST(RdQuant, ChosenPlanesDecodeExactlyWhatTheEncoderAssumedWithinTheStreamLimits) {
    build_scan_order();  // the reference decoder walks the viewer's global tables
    std::mt19937 rng(11);
    float plane[kTileCoeffs], assumed[kTileCoeffs], decoded[kTileCoeffs];
    int refitted = 0, coded = 0;
    for (int trial = 0; trial < 90; ++trial) {
        // From nearly empty tiles to dense noise at almost no price, which needs refits to fit
        // the streams.
        const int ch = trial % 3;
        float price = builder::Quality{(trial * 37) % 101}.price();
        if (trial < 60) {
            coefficient_plane(rng, plane, 1.0f + float(trial % 9), 0.05f + 0.01f * float(trial));
        } else {
            // Large coarse coefficients and a finest band of small ones: each of those is visited
            // in every pass, more symbols than the decoder's buffer holds.
            for (int p = 0; p < kTileCoeffs; ++p) {
                const bool finest = std::max(p / 64, p % 64) >= 32;
                const float m = finest ? 2.5f + float(rng() % 2) : float(150 + rng() % 150);
                plane[p] = rng() % 2 ? m : -m;
            }
            price = 0.01f;
        }
        EncodedChannel rec;
        int refits = 0;
        bool over = false;
        builder::code_channel(plane, ch, price, rec, assumed, refits, over);
        refitted += refits > 0;
        EXPECT_EQ(over, refits > 6) << trial;
        EXPECT_LE(rec.dominant.size(), kMaxDominantBytes);
        EXPECT_LE(rec.subordinate.size(), kMaxSubordinateBytes);
        for (bool compress : {false, true}) {
            ChannelDecodeInfo info;
            ASSERT_TRUE(decode_both(rec, compress, decoded, info)) << trial;
            EXPECT_EQ(info.status, DecodeStatus::ok) << trial;
            EXPECT_EQ(info.symbols_used, rec.symbols);
            EXPECT_EQ(info.bits_used, rec.bits);
            ASSERT_EQ(std::memcmp(decoded, assumed, sizeof decoded), 0) << trial;
        }
        // Every value is one the record's start threshold can give.
        const builder::StartGrid grid(rec.threshold, builder::kMaxPasses);
        for (int p = 0; p < kTileCoeffs; ++p) {
            const float m = std::fabs(assumed[p]);
            bool on_grid = m == 0.0f;
            for (int k = 0; k < grid.passes; ++k) on_grid |= m == grid.lo[k] || m == grid.hi[k];
            ASSERT_TRUE(on_grid) << trial << " " << p << " " << m;
            coded += m != 0.0f;
        }
    }
    EXPECT_GT(refitted, 0);  // the dense planes did exercise the refits
    EXPECT_GT(coded, 10000);
}

TEST(RdQuant, AHigherPriceCodesFewerCoefficientsForMoreErrorAndPruningOnlyDrops) {
    std::mt19937 rng(3);
    const builder::CoefficientWeights& cw = builder::coefficient_weights();
    float plane[kTileCoeffs], q[kTileCoeffs], pruned[kTileCoeffs];
    for (int trial = 0; trial < 12; ++trial) {
        coefficient_plane(rng, plane, 3.0f, 0.4f);
        const int ch = trial % 3;
        double last_error = -1, first_error = 0;
        uint32_t last_symbols = 1u << 30;
        for (int quality : {100, 80, 60, 40, 20, 0}) {
            const float price = builder::Quality{quality}.price();
            EncodedChannel rec;
            int refits = 0;
            bool over = false;
            builder::code_channel(plane, ch, price, rec, q, refits, over);
            // The error in the picture (the coarse coefficients are chosen against it, not
            // against each coefficient's own weighted error).
            alignas(32) float a[kTileCoeffs], b[kTileCoeffs];
            std::memcpy(a, plane, sizeof a);
            std::memcpy(b, q, sizeof b);
            inverse_wavelet(a);
            inverse_wavelet(b);
            double error = 0;
            for (int p = 0; p < kTileCoeffs; ++p) error += double(a[p] - b[p]) * (a[p] - b[p]);
            // The coarse coefficients also weigh the steps at the tile's borders, so the plain
            // error may dip a little where a higher price drops a coefficient.
            EXPECT_GE(error, 0.9 * last_error) << trial << " q" << quality;
            if (quality == 100) first_error = error;
            if (quality == 0) {
                EXPECT_GT(error, first_error) << trial;
            }
            EXPECT_LE(rec.symbols, last_symbols) << trial << " q" << quality;
            last_error = error;
            last_symbols = rec.symbols;
        }
        // Pruning at a steep visit price only turns coded coefficients into zeros.
        const float price = builder::Quality{60}.price();
        const builder::StartGrid grid(builder::choose_start(plane, cw.w[ch], price, 7), 7);
        builder::quantize_plane(plane, cw.w[ch], grid, price, q);
        std::memcpy(pruned, q, sizeof q);
        builder::prune_trees(plane, cw.w[ch], price, 50.0f * price, pruned);
        int dropped = 0;
        for (int p = 0; p < kTileCoeffs; ++p) {
            ASSERT_TRUE(pruned[p] == q[p] || pruned[p] == 0.0f);
            dropped += pruned[p] != q[p];
        }
        EXPECT_GT(dropped, 0) << trial;
    }
}

namespace {

double sse(const Planes& a, const Planes& b) {
    double s = 0;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < a.h; ++y)
            for (int x = 0; x < a.w; ++x) {
                const double d = double(a.at(c, x, y)[0]) - double(b.at(c, x, y)[0]);
                s += d * d;
            }
    return s;
}

// The viewer's prediction of `target`'s level from `base` through `steps` upsampling steps.
double prediction_error(const Planes& base, const Planes& target, int steps, Pool& pool) {
    Planes cur(base.w, base.h, builder::kPredictionMargin), next;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < base.h; ++y) std::memcpy(cur.at(c, 0, y), base.at(c, 0, y), base.w);
    cur.clamp_margin();
    for (int s = 0; s < steps; ++s) {
        builder::upsample(cur, next, pool);
        std::swap(cur, next);
    }
    return sse(cur, target);
}

// Fitted against decimated base, through `steps` doublings.
void expect_fit_beats_decimation(const Planes& target, int steps, Pool& pool, double factor) {
    Planes levels[5];
    levels[0] = target;
    for (int s = 0; s < steps; ++s) builder::decimate(levels[s], levels[s + 1], pool);
    Planes fitted;
    builder::fit_base(target, steps, fitted, pool);
    const double dec = prediction_error(levels[steps], target, steps, pool);
    const double fit = prediction_error(fitted, target, steps, pool);
    EXPECT_LT(fit, dec * factor) << "steps " << steps << ": fitted " << fit << ", decimated "
                                 << dec;
}

}  // namespace

TEST(BaseFit, PredictsBetterThanTheDecimatedBaseOnRandomAndRealPictures) {
    Pool pool(2);
    // Random: independent noise, and noise on a smooth ramp that runs into the clamp at 255.
    std::mt19937 rng(5);
    Planes noise(256, 256, 0), ramp(256, 256, 0);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                noise.at(c, x, y)[0] = uint8_t(rng() & 255);
                ramp.at(c, x, y)[0] = uint8_t(std::min(255, x + y / 2 + int(rng() % 24)));
            }
    // Through one step the fit gains most; through more, the decimation is nearly as good.
    for (int steps : {1, 2}) {
        expect_fit_beats_decimation(noise, steps, pool, steps == 1 ? 0.97 : 1.0);
        expect_fit_beats_decimation(ramp, steps, pool, steps == 1 ? 0.97 : 1.0);
    }
    // Real: a crop of a photograph at its native resolution.
    const char* photo = "/usr/share/backgrounds/mate/nature/Storm.jpg";
    ASSERT_EQ(VIPS_INIT("quorvik-test"), 0);
    vips::VImage im;
    ASSERT_NO_THROW(im = vips::VImage::new_from_file(photo))
        << photo << " is missing: scripts/install-deps.sh installs mate-backgrounds";
    im = im.extract_area(600, 300, 512, 512).colourspace(VIPS_INTERPRETATION_sRGB);
    size_t bytes = 0;
    uint8_t* px = static_cast<uint8_t*>(im.write_to_memory(&bytes));
    ASSERT_EQ(bytes, size_t(512) * 512 * 3);
    Planes real(512, 512, 0);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            for (int c = 0; c < 3; ++c) real.at(c, x, y)[0] = px[(size_t(y) * 512 + x) * 3 + c];
    g_free(px);
    for (int steps : {1, 2, 3})
        expect_fit_beats_decimation(real, steps, pool, steps == 1 ? 0.95 : 1.0);
}

TEST(BaseFit, KeepsFlatPicturesAndTheUpsamplerColumnsSumToOne) {
    Pool pool(1);
    Planes flat(64, 64, 0), base;
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < 64; ++y) std::memset(flat.at(c, 0, y), 40 + 90 * c, 64);
    builder::fit_base(flat, 2, base, pool);
    ASSERT_EQ(base.w, 16);
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) ASSERT_EQ(base.at(c, x, y)[0], 40 + 90 * c);
    // Each fine pixel's weights over the base add up to 1 (a flat base stays flat).
    const builder::UpsamplerColumns m(12, 3);
    std::vector<double> sum(size_t(m.fine), 0.0);
    for (int j = 0; j < m.n; ++j)
        for (size_t i = 0; i < m.weight[size_t(j)].size(); ++i)
            sum[size_t(m.first[size_t(j)]) + i] += m.weight[size_t(j)][i];
    for (double s : sum) EXPECT_NEAR(s, 1.0, 1e-12);
    EXPECT_THROW(builder::fit_base(flat, 5, base, pool), std::invalid_argument);
}
