// The HTJ2K tiles' restoration filter: its comment segment read back and refused when damaged,
// its taps where they belong, every kernel version equal to the reference, the fit, and the
// decoder's filtering (on the lines as they come) equal to filtering the decoded tile.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "decoder/htj2k_codestream.h"
#include "decoder/htj2k_decode.h"
#include "decoder/kernels.h"
#include "decoder/tile_filter.h"
#include "encoder/htj2k_encode.h"
#include "encoder/tile_filter_design.h"

namespace {

using Bytes = std::vector<uint8_t>;

TileFilter filter_of(uint8_t mask, int8_t base) {
    TileFilter f;
    f.mask = mask;
    for (int c = 0; c < 3; ++c)
        if (mask >> c & 1)
            for (int k = 0; k < kTileFilterPairs; ++k) f.taps[c][k] = int8_t(base + 10 * c - 3 * k);
    return f;
}

// A COM segment's body as parse_tile_filter takes it.
int parse(const Bytes& segment, TileFilter& f, std::string* why = nullptr) {
    return parse_tile_filter(segment.data() + 4, segment.size() - 4, f, why);
}

// Fine texture under broad waves: a wavelet step of a few grey levels flattens the texture in
// a way the filter partly undoes.
Bytes textured(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes rgb(size_t(w) * size_t(h) * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double v = 120 + 60 * std::sin(0.03 * x + 0.02 * y + c) +
                                 ((x + y + c) % 2 ? 9 : -9) + int(rng() % 5) - 2;
                rgb[(size_t(y) * w + x) * 3 + c] = uint8_t(std::lround(v));
            }
    return rgb;
}

double sse(const Bytes& a, int a_px, const Bytes& b, int b_px, size_t pixels) {
    double s = 0;
    for (size_t p = 0; p < pixels; ++p)
        for (int c = 0; c < 3; ++c) {
            const double e = double(a[p * a_px + c]) - double(b[p * b_px + c]);
            s += e * e;
        }
    return s;
}

// `cs` without our filter comment (the codestream as a reader that ignores it would see it).
Bytes without_filter(const Bytes& cs) {
    Bytes out(cs.begin(), cs.begin() + 2);
    size_t pos = 2;
    while (!(cs[pos] == 0xFF && cs[pos + 1] == 0x90)) {
        const size_t end = pos + 2 + (size_t(cs[pos + 2]) << 8 | cs[pos + 3]);
        TileFilter f;
        if (!(cs[pos + 1] == 0x64 && parse_tile_filter(&cs[pos + 4], end - pos - 4, f, nullptr)))
            out.insert(out.end(), cs.begin() + ptrdiff_t(pos), cs.begin() + ptrdiff_t(end));
        pos = end;
    }
    out.insert(out.end(), cs.begin() + ptrdiff_t(pos), cs.end());
    return out;
}

}  // namespace

TEST(TileFilter, SegmentsReadBackAndDamageIsRefused) {
    for (const uint8_t mask : {1, 2, 5, 7}) {
        const TileFilter f = filter_of(mask, -20);
        TileFilter back;
        ASSERT_EQ(parse(tile_filter_segment(f), back), 1) << int(mask);
        EXPECT_TRUE(back == f) << int(mask);
    }
    const Bytes sound = tile_filter_segment(filter_of(7, 4));
    const struct {
        const char* what;
        size_t at;  // byte to set, or the new size when `resize`
        uint8_t value;
        bool resize;
        int expect;
        const char* why;
    } cases[] = {
        {"another program's text comment", 5, 1, false, 0, ""},
        {"another binary comment", 6, 'X', false, 0, ""},
        {"no channel", 10, 0, false, -1, "the tile filter's channel mask is not 1-7"},
        {"a fourth channel", 10, 15, false, -1, "the tile filter's channel mask is not 1-7"},
        {"fewer channels than taps", 10, 3, false, -1,
         "the tile filter's length does not match its channels"},
        {"cut short", sound.size() - 1, 0, true, -1,
         "the tile filter's length does not match its channels"},
        {"no mask", 10, 0, true, -1, "the tile filter has no channel mask"},
    };
    for (const auto& c : cases) {
        Bytes s = sound;
        if (c.resize)
            s.resize(c.at);
        else
            s[c.at] = c.value;
        TileFilter f;
        std::string why;
        EXPECT_EQ(parse(s, f, &why), c.expect) << c.what;
        EXPECT_EQ(why, c.why) << c.what;
    }
}

// One bright pixel on flat ground: each tap lands on the pair it names, flat ground stays flat,
// and the picture's edges repeat rather than read outside it.
TEST(TileFilter, TapsLandWhereTheyBelong) {
    const int w = 7, h = 5;
    TileFilter f;
    f.mask = 2;                                           // green only
    const int8_t taps[kTileFilterPairs] = {16, 8, 4, 2};  // left/right, up/down, "\", "/"
    std::copy(taps, taps + kTileFilterPairs, f.taps[1]);
    for (const int pixel_bytes : {3, 4}) {
        Bytes px(size_t(w) * h * size_t(pixel_bytes), 40);
        px[(size_t(2) * w + 3) * size_t(pixel_bytes) + 1] = 40 + 128;
        std::vector<int16_t> scratch;
        apply_tile_filter(f, px.data(), size_t(w) * size_t(pixel_bytes), w, h, pixel_bytes,
                          scratch);
        const auto at = [&](int x, int y, int c) {
            return int(px[(size_t(y) * w + size_t(x)) * size_t(pixel_bytes) + size_t(c)]) - 40;
        };
        EXPECT_EQ(at(3, 2, 1), 128 - 2 * (16 + 8 + 4 + 2));
        EXPECT_EQ(at(2, 2, 1), 16);
        EXPECT_EQ(at(4, 2, 1), 16);
        EXPECT_EQ(at(3, 1, 1), 8);
        EXPECT_EQ(at(3, 3, 1), 8);
        EXPECT_EQ(at(2, 1, 1), 4);  // up-left
        EXPECT_EQ(at(4, 3, 1), 4);
        EXPECT_EQ(at(4, 1, 1), 2);  // up-right
        EXPECT_EQ(at(2, 3, 1), 2);
        EXPECT_EQ(at(0, 0, 1), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                EXPECT_EQ(at(x, y, 0), 0);
                EXPECT_EQ(at(x, y, 2), 0);
            }
    }
    // A single pixel and a single row filter against themselves only.
    Bytes one = {10, 200, 30};
    std::vector<int16_t> scratch;
    apply_tile_filter(filter_of(7, 30), one.data(), 3, 1, 1, 3, scratch);
    EXPECT_EQ(one, (Bytes{10, 200, 30}));
}

TEST(TileFilter, EveryKernelVersionEqualsTheReference) {
    std::mt19937 rng(5);
    std::vector<std::pair<const char*, TileFilterRowFn>> versions = {
        {"selected", decoder_kernels().tile_filter_row}};
#if defined(__x86_64__) && defined(__GNUC__)
    if (detect_cpu_features().avx2) versions.push_back({"avx2", tile_filter_row_avx2});
#endif
    for (const int w : {1, 2, 7, 8, 9, 31, 64, 513}) {
        std::vector<int16_t> rows[3], want(static_cast<size_t>(w)), got(static_cast<size_t>(w));
        for (auto& r : rows) {
            r.resize(size_t(w) + 2);
            for (auto& v : r) v = int16_t(rng() % 256);
        }
        int8_t taps[kTileFilterPairs];
        for (auto& t : taps) t = int8_t(int(rng() % 256) - 128);  // extremes clamp
        tile_filter_row_reference(taps, rows[0].data() + 1, rows[1].data() + 1, rows[2].data() + 1,
                                  w, want.data());
        for (const auto& v : versions) {
            v.second(taps, rows[0].data() + 1, rows[1].data() + 1, rows[2].data() + 1, w,
                     got.data());
            EXPECT_EQ(got, want) << v.first << " at width " << w;
        }
    }
}

// The fit sharpens a blurred picture back towards its source and leaves an exact one alone.
TEST(TileFilter, FitUndoesABlurAndLeavesAnExactPictureUnfiltered) {
    const int w = 96, h = 80;
    std::mt19937 rng(3);
    Bytes src(size_t(w) * h * 3);
    for (auto& v : src) v = uint8_t(60 + rng() % 120);
    // Each pixel a quarter of the way towards its left and right neighbours' mean.
    Bytes blurred(src.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const auto s = [&](int dx) {
                    const int xx = std::clamp(x + dx, 0, w - 1);
                    return int(src[(size_t(y) * w + size_t(xx)) * 3 + size_t(c)]);
                };
                blurred[(size_t(y) * w + size_t(x)) * 3 + size_t(c)] =
                    uint8_t((6 * s(0) + s(-1) + s(1) + 4) / 8);
            }
    const TileFilter f =
        design_tile_filter(src.data(), size_t(w) * 3, blurred.data(), size_t(w) * 3, w, h);
    ASSERT_EQ(f.mask, 7);
    for (int c = 0; c < 3; ++c) EXPECT_LT(f.taps[c][0], 0) << "a sharpening filter";
    Bytes restored = blurred;
    std::vector<int16_t> scratch;
    apply_tile_filter(f, restored.data(), size_t(w) * 3, w, h, 3, scratch);
    const size_t n = size_t(w) * h;
    EXPECT_LT(sse(restored, 3, src, 3, n), 0.5 * sse(blurred, 3, src, 3, n));

    EXPECT_FALSE(
        design_tile_filter(src.data(), size_t(w) * 3, src.data(), size_t(w) * 3, w, h).on());
}

// Through the coder: the filter rides in the codestream, helps, is applied on the lines as they
// come exactly as on the decoded tile, is left out of reduced decodes, and a damaged filter
// comment refuses the codestream.
TEST(TileFilter, TheCodestreamCarriesItAndTheDecoderAppliesIt) {
    const int w = 200, h = 136;
    const Bytes src = textured(w, h, 11);
    Htj2kEncodeParams p;
    p.levels = 5;
    p.qstep = 0.02f;
    p.restoration_filter = true;
    Bytes cs;
    ASSERT_TRUE(encode_htj2k(src.data(), size_t(w) * 3, w, h, p, cs));
    Htj2kCodestreamInfo info;
    ASSERT_EQ(check_htj2k_codestream(cs.data(), cs.size(), w, h, info), "");
    ASSERT_TRUE(info.filter.on());
    const Bytes plain_cs = without_filter(cs);
    ASSERT_LT(plain_cs.size(), cs.size());

    const size_t n = size_t(w) * h;
    Bytes filtered(n * 4), plain(n * 4);
    ASSERT_TRUE(decode_htj2k(cs.data(), cs.size(), w, h, 0, filtered.data(), size_t(w) * 4, 4));
    ASSERT_TRUE(
        decode_htj2k(plain_cs.data(), plain_cs.size(), w, h, 0, plain.data(), size_t(w) * 4, 4));
    EXPECT_LT(sse(filtered, 4, src, 3, n), 0.98 * sse(plain, 4, src, 3, n));
    // What the encoder reads back to fit the filter: the samples before it, in planes.
    std::vector<int16_t> planes(3 * n, -1);
    int16_t* const plane[3] = {planes.data(), planes.data() + n, planes.data() + 2 * n};
    ASSERT_TRUE(decode_htj2k_planes(cs.data(), cs.size(), w, h, plane, size_t(w)));
    for (size_t i = 0; i < 3 * n; ++i)
        ASSERT_EQ(planes[i], plain[i % n * 4 + i / n]) << "channel " << i / n << " pixel " << i % n;
    std::vector<int16_t> scratch;
    apply_tile_filter(info.filter, plain.data(), size_t(w) * 4, w, h, 4, scratch);
    EXPECT_EQ(filtered, plain);

    const int rw = htj2k_reduced_side(w, 1), rh = htj2k_reduced_side(h, 1);
    Bytes reduced(size_t(rw) * rh * 3), reduced_plain(reduced.size());
    ASSERT_TRUE(decode_htj2k(cs.data(), cs.size(), w, h, 1, reduced.data(), size_t(rw) * 3, 3));
    ASSERT_TRUE(decode_htj2k(plain_cs.data(), plain_cs.size(), w, h, 1, reduced_plain.data(),
                             size_t(rw) * 3, 3));
    EXPECT_EQ(reduced, reduced_plain);

    // The mask byte sits 10 bytes into our segment, which starts where the plain codestream's
    // main header ends.
    size_t seg = 2;
    while (!(cs[seg] == 0xFF && cs[seg + 1] == 0x64 && cs[seg + 4] == 0 && cs[seg + 5] == 0))
        seg += 2 + (size_t(cs[seg + 2]) << 8 | cs[seg + 3]);
    Bytes damaged = cs;
    damaged[seg + 10] = 0x10;
    std::string error;
    EXPECT_FALSE(decode_htj2k(damaged.data(), damaged.size(), w, h, 0, filtered.data(),
                              size_t(w) * 4, 4, &error));
    EXPECT_EQ(error, "the tile filter's channel mask is not 1-7");
    EXPECT_FALSE(decode_htj2k_planes(damaged.data(), damaged.size(), w, h, plane, size_t(w)));
    Bytes twice = cs;
    const Bytes segment = tile_filter_segment(info.filter);
    twice.insert(twice.begin() + ptrdiff_t(seg), segment.begin(), segment.end());
    EXPECT_EQ(check_htj2k_codestream(twice.data(), twice.size(), w, h, info), "two tile filters");
}
