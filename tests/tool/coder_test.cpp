// Tile coding: the fast EZW coder against the library's, the residual pre-compensation against
// the viewer's residual addition, and round trips through the viewer's decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "app/settings.h"
#include "decoder/decode_tile.h"
#include "encoder/encoder.h"
#include "store/data_set.h"
#include "render/render_buffers.h"
#include "render/synth.h"
#include "builder/fast_ezw.h"
#include "builder/tile_coder.h"

using builder::Planes;

namespace {

// Coefficients shaped like a real tile's: large in the coarse bands, sparse and small in the fine
// ones, with occasional outliers beyond what the first pass can reconstruct.
void random_plane(std::mt19937& rng, float* plane, float scale, float density) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int p = 0; p < kTileCoeffs; ++p) {
        const int m = std::max(p / 64, p % 64);
        const float band = m == 0 ? 4.0f : 64.0f / float(m + 8);
        float v = 0.0f;
        if (u(rng) < density) v = scale * band * std::log(1.0f / (u(rng) + 1e-6f));
        if (u(rng) < 0.002f) v *= 30.0f;
        plane[p] = u(rng) < 0.5f ? -v : v;
    }
}

struct TwoTiles {
    Planes src, pred;
    TwoTiles() : src(128, 64, 0), pred(128, 64, 0) {}
};

// Records of a coded tile, as a file would hold them.
struct Records {
    std::vector<uint8_t> bytes[3];
    bool compressed[3] = {false, false, false};
    size_t total() const { return bytes[0].size() + bytes[1].size() + bytes[2].size(); }
};

Records records_of(const builder::TileCode& code, bool compress) {
    Records r;
    for (int c = 0; c < 3; ++c) {
        append_record(r.bytes[c], code.ch[c], compress);
        r.compressed[c] = compress;
    }
    return r;
}

double tile_psnr(const TwoTiles& t, int x0, const Records& r, int& short_channels) {
    const uint8_t* rec[3] = {r.bytes[0].data(), r.bytes[1].data(), r.bytes[2].data()};
    const size_t len[3] = {r.bytes[0].size(), r.bytes[1].size(), r.bytes[2].size()};
    const double sse = builder::closed_loop_error(t.src, t.pred, x0, 0, rec, len, r.compressed,
                                                  builder::kMaxPasses, short_channels);
    if (sse == 0) return INFINITY;
    return 10 * std::log10(255.0 * 255.0 / (sse / (64.0 * 64.0 * 3.0)));
}

// Natural-looking content: a prediction with soft shapes and a source that adds texture and an
// edge the prediction missed.
void natural_pair(TwoTiles& t, uint32_t seed, float texture) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> n(0.0f, texture);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            for (int c = 0; c < 3; ++c) {
                const float base = 90 + 50 * std::sin(x * 0.05f + c) * std::cos(y * 0.07f);
                const float edge = (x + y / 2 > 70 && x + y / 2 < 76) ? 40.0f : 0.0f;
                t.pred.at(c, x, y)[0] = uint8_t(std::clamp(base, 0.0f, 255.0f));
                t.src.at(c, x, y)[0] =
                    uint8_t(std::clamp(base + edge + n(rng) + 6 * (c - 1), 0.0f, 255.0f));
            }
}

}  // namespace

TEST(FastEzw, WritesTheLibraryEncodersRecordsOrReportsTheOverflow) {
    std::mt19937 rng(12345);
    int compared = 0, overflows = 0;
    for (int i = 0; i < 400; ++i) {
        alignas(16) float plane[kTileCoeffs];
        const float scale = (i % 7 == 0) ? 0.05f : float(1 + i % 23);
        const float density = (i % 5 == 0) ? 1.0f : 0.1f + 0.2f * float(i % 4);
        random_plane(rng, plane, scale, density);
        if (i % 6 == 1) {
            // Every coarse coefficient significant in the first pass and the finest ones never:
            // the decoder then visits the 3072 finest coefficients in each of the seven passes,
            // more symbols than its buffer holds.
            for (int p = 0; p < kTileCoeffs; ++p) {
                const bool finest = std::max(p / 64, p % 64) >= 32;
                plane[p] = finest ? float(rng() % 100) * 0.01f
                                  : (rng() & 1 ? 1.0f : -1.0f) * float(130 + rng() % 100);
            }
        }
        const int thresholds[] = {0, 1, 2, 3, 7, 16, 100, 128, 191, 192, 255};
        const int t = thresholds[i % 11];
        const int passes = 1 + i % 8;
        EncodedChannel want, got;
        encode_channel(plane, t, passes, want, nullptr);
        const bool ok = builder::fast_encode_channel(plane, t, passes, got);
        const bool library_fits = want.budget_pass < 0 && !want.truncated;
        ASSERT_EQ(ok, library_fits) << "case " << i;
        if (!ok) {
            ++overflows;
            continue;
        }
        ++compared;
        EXPECT_EQ(got.threshold, want.threshold) << "case " << i;
        EXPECT_EQ(got.dominant, want.dominant) << "case " << i;
        EXPECT_EQ(got.subordinate, want.subordinate) << "case " << i;
        EXPECT_EQ(got.symbols, want.symbols) << "case " << i;
        EXPECT_EQ(got.bits, want.bits) << "case " << i;
        EXPECT_EQ(got.passes, want.passes) << "case " << i;
        EXPECT_EQ(got.significant, want.significant) << "case " << i;
    }
    // Both outcomes must really have been exercised.
    EXPECT_GT(compared, 300);
    EXPECT_GT(overflows, 0);
}

TEST(ResidualTarget, InvertsTheViewersResidualAdditionAtEveryBorderDistance) {
    for (int d = 0; d <= 3; ++d) {
        int lo = 0, hi = 0;  // the range of changes the residual byte can express at d
        for (int r = 0; r < 256; ++r) {
            const int e = residual_value(128, r, d) - 128;
            lo = std::min(lo, e);
            hi = std::max(hi, e);
        }
        for (int delta = -255; delta <= 255; ++delta) {
            const float v = builder::residual_target(d, delta);
            const int byte = std::clamp(int(std::trunc(double(v) + 128.0)), 0, 255);
            // The wanted change, or the nearest the byte can express (p = 128 keeps clear of the
            // viewer's final clamping for every expressible change).
            const int want = std::clamp(delta, lo, hi);
            EXPECT_EQ(residual_value(128, byte, d) - 128, want) << "d " << d << " delta " << delta;
        }
    }
    // The attenuation the targets undo: d counts 0 only on the top and left edges.
    EXPECT_EQ(builder::border_distance(0, 30), 0);
    EXPECT_EQ(builder::border_distance(63, 30), 1);
    EXPECT_EQ(builder::border_distance(30, 62), 2);
    EXPECT_EQ(builder::border_distance(30, 30), 3);
}

TEST(TileRoundTrip, FlatResidualCodesToAlmostNothingAndShowsThePrediction) {
    TwoTiles t;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            for (int c = 0; c < 3; ++c)
                t.src.at(c, x, y)[0] = t.pred.at(c, x, y)[0] = uint8_t(40 + x + c * 30);
    builder::TileCode code;
    builder::code_tile(t.src, t.pred, 64, 0, builder::Quality{80}, code);
    const Records r = records_of(code, false);
    // The three records only carry the inverse transform's offsets.
    EXPECT_LT(r.total(), 3u * 9u + 120u);
    int short_channels = 0;
    EXPECT_GT(tile_psnr(t, 64, r, short_channels), 46.0);
    EXPECT_EQ(short_channels, 0);
}

TEST(TileRoundTrip, NaturalContentMeetsTheQualitysPromiseAndBetterQualityCostsMore) {
    for (float texture : {2.0f, 6.0f, 15.0f}) {
        TwoTiles t;
        natural_pair(t, 99, texture);
        size_t last_size = 0;
        double last_psnr = 0;
        for (int q : {0, 40, 60, 80, 100}) {
            const builder::Quality quality{q};
            for (int x0 : {0, 64}) {
                builder::TileCode code;
                builder::code_tile(t.src, t.pred, x0, 0, quality, code);
                for (bool compress : {false, true}) {
                    const Records r = records_of(code, compress);
                    int short_channels = 0;
                    const double p = tile_psnr(t, x0, r, short_channels);
                    EXPECT_EQ(short_channels, 0);
                    EXPECT_GE(p, quality.promised_psnr())
                        << "quality " << q << " tile " << x0 << " texture " << texture;
                    if (x0 == 0 && !compress) {
                        EXPECT_GE(r.total(), last_size) << "quality " << q;
                        EXPECT_GE(p, last_psnr - 0.01) << "quality " << q;
                        last_size = r.total();
                        last_psnr = p;
                    }
                }
            }
        }
    }
}

TEST(TileRoundTrip, DenseNoiseStaysWithinTheStreamLimitsAndDecodes) {
    TwoTiles t;
    std::mt19937 rng(5);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            for (int c = 0; c < 3; ++c) {
                t.pred.at(c, x, y)[0] = 128;
                t.src.at(c, x, y)[0] = uint8_t(rng() % 256);
            }
    builder::TileCode code;
    builder::code_tile(t.src, t.pred, 0, 0, builder::Quality{100}, code);
    EXPECT_FALSE(code.over_budget);
    for (int c = 0; c < 3; ++c) {
        EXPECT_LE(code.ch[c].dominant.size(), size_t(kMaxDominantBytes));
        EXPECT_LE(code.ch[c].subordinate.size(), size_t(kMaxSubordinateBytes));
    }
    int short_channels = 0;
    tile_psnr(t, 0, records_of(code, true), short_channels);
    EXPECT_EQ(short_channels, 0);
}

TEST(TileRoundTrip, ClosedLoopErrorIsWhatTheViewersTilePathShows) {
    TwoTiles t;
    natural_pair(t, 7, 9.0f);
    builder::TileCode code;
    builder::code_tile(t.src, t.pred, 64, 0, builder::Quality{60}, code);
    // Mixed file flags: the Y file compressed, the others stored.
    Records r;
    for (int c = 0; c < 3; ++c) {
        r.compressed[c] = c == 0;
        append_record(r.bytes[c], code.ch[c], r.compressed[c]);
    }
    const uint8_t* rec[3] = {r.bytes[0].data(), r.bytes[1].data(), r.bytes[2].data()};
    const size_t len[3] = {r.bytes[0].size(), r.bytes[1].size(), r.bytes[2].size()};
    int short_channels = 0;
    const double sse = builder::closed_loop_error(t.src, t.pred, 64, 0, rec, len, r.compressed,
                                                  builder::kMaxPasses, short_channels);
    // With the error lines asked for: the same sum, and the lines the seam measure reads.
    static int16_t error[3][64][64];
    int short_too = 0;
    EXPECT_EQ(builder::closed_loop_error(t.src, t.pred, 64, 0, rec, len, r.compressed,
                                         builder::kMaxPasses, short_too, error),
              sse);

    // The same tile through the viewer: one-tile files, decode_tile, add_residual.
    TileSet sets[3];
    int32_t index0 = 0;
    for (int c = 0; c < 3; ++c) {
        TileSet& s = sets[c];
        memset(&s.header, 0, sizeof s.header);
        s.header.compressed = r.compressed[c];
        s.header.tiles_x = s.header.tiles_y = 1;
        s.header.max_passes = builder::kMaxPasses;
        s.index = &index0;
        s.data = r.bytes[c].data();
        s.data_len = int64_t(r.bytes[c].size());
    }
    residuals_level[0][2] = ResidualLevel{&sets[0], &sets[1], &sets[2]};
    std::vector<uint8_t> res(64 * 64 * 4), fin(64 * 64 * 4), pred(72 * 72 * 4);
    residual_tile = RawImage{4, 0, 64, 64, 256, res.data()};
    final_tile = RawImage{4, 0, 64, 64, 256, fin.data()};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                pred[((y + 4) * 72 + x + 4) * 4 + c] = t.pred.at(c, 64 + x, y)[0];
    viewer_settings.compressedResidue = 1;
    decode_tile(0, 2, 0);
    add_residual(RawImage{4, 0, 72, 72, 288, pred.data()});
    double viewer_sse = 0;
    int lines_checked = 0;
    auto read_line = [](int v) { return v == 0 || v == 31 || v == 32 || v == 63; };
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c) {
                const int e = fin[(y * 64 + x) * 4 + c] - t.src.at(c, 64 + x, y)[0];
                viewer_sse += e * e;
                if (read_line(x) || read_line(y)) {
                    EXPECT_EQ(error[c][y][x], e) << c << " " << x << " " << y;
                    ++lines_checked;
                }
            }
    EXPECT_EQ(lines_checked, 3 * (64 * 64 - 60 * 60));
    residuals_level[0][2] = ResidualLevel{};
    residual_tile = RawImage{};
    final_tile = RawImage{};
    EXPECT_EQ(short_channels, 0);
    EXPECT_GT(sse, 0.0);
    EXPECT_EQ(sse, viewer_sse);
}
