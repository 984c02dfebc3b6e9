// The HTJ2K adapters: round trips of awkward block sizes, reduced-resolution decodes, the levels
// kept clear of OpenJPH's small-level fault, and damaged codestreams refused without a crash
// (the ASan build runs these; each decode reads from a heap copy of exactly its bytes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

#include "decoder/htj2k_codestream.h"
#include "decoder/htj2k_decode.h"
#include "decoder/openjph.h"
#include "encoder/htj2k_encode.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Colour waves with a little noise: like a photograph, coarse levels carry most of it. A smooth
// picture has waves hundreds of pixels long and no noise.
Bytes picture(int w, int h, uint32_t seed, bool smooth = false) {
    std::mt19937 rng(seed);
    Bytes rgb(size_t(w) * size_t(h) * 3);
    const double f = smooth ? 0.02 : 0.05;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                const double wave = std::sin(f * x * (smooth ? 1 : c + 1) + f * 0.6 * y + c);
                const double v = 128 + 90 * wave + (smooth ? 0 : int(rng() % 9) - 4);
                rgb[(size_t(y) * w + x) * 3 + c] =
                    uint8_t(std::lround(std::min(255.0, std::max(0.0, v))));
            }
    return rgb;
}

Bytes encode(const Bytes& rgb, int w, int h, int levels, float qstep) {
    Bytes out;
    std::string error;
    Htj2kEncodeParams p;
    p.levels = levels;
    p.qstep = qstep;
    EXPECT_TRUE(encode_htj2k(rgb.data(), size_t(w) * 3, w, h, p, out, &error)) << error;
    return out;
}

bool decode_copy(const Bytes& cs, size_t n, int w, int h, int skip, Bytes& out,
                 std::string* error = nullptr) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[n ? n : 1]);
    if (n) memcpy(copy.get(), cs.data(), n);
    const int ow = htj2k_reduced_side(w, skip), oh = htj2k_reduced_side(h, skip);
    out.assign(size_t(ow) * size_t(oh) * 4, 0);
    return decode_htj2k(copy.get(), n, w, h, skip, out.data(), size_t(ow) * 4, 4, error);
}

int max_error(const Bytes& rgb, const Bytes& rgbx, int w, int h) {
    int worst = 0;
    for (size_t p = 0; p < size_t(w) * size_t(h); ++p) {
        for (int c = 0; c < 3; ++c)
            worst = std::max(worst, std::abs(int(rgb[3 * p + c]) - int(rgbx[4 * p + c])));
        if (rgbx[4 * p + 3] != 255) return 1000;
    }
    return worst;
}

TEST(Htj2k, RoundTripOfAwkwardSizesAtAFineStep) {
    struct Case {
        int w, h, levels;
    };
    for (const Case& k :
         {Case{1, 1, 5}, Case{2, 2, 5}, Case{63, 65, 5}, Case{256, 256, 5}, Case{300, 17, 5},
          Case{17, 300, 6}, Case{3, 1024, 9}, Case{1024, 5, 5}, Case{64, 64, 0}}) {
        SCOPED_TRACE(std::to_string(k.w) + "x" + std::to_string(k.h));
        const Bytes rgb = picture(k.w, k.h, uint32_t(k.w * 7 + k.h));
        const Bytes cs = encode(rgb, k.w, k.h, k.levels, 1.0f / 1024);
        Bytes got;
        std::string error;
        ASSERT_TRUE(decode_copy(cs, cs.size(), k.w, k.h, 0, got, &error)) << error;
        EXPECT_LE(max_error(rgb, got, k.w, k.h), 2);
    }
}

TEST(Htj2k, CoarserStepsSpendFewerBytesAndErrMore) {
    const int w = 256, h = 192;
    const Bytes rgb = picture(w, h, 5);
    size_t last_bytes = SIZE_MAX;
    int last_error = -1;
    for (float q : {1.0f / 512, 1.0f / 64, 1.0f / 8}) {
        const Bytes cs = encode(rgb, w, h, 5, q);
        Bytes got;
        ASSERT_TRUE(decode_copy(cs, cs.size(), w, h, 0, got));
        const int e = max_error(rgb, got, w, h);
        EXPECT_LT(cs.size(), last_bytes) << q;
        EXPECT_GE(e, last_error) << q;
        last_bytes = cs.size();
        last_error = e;
    }
    EXPECT_GT(last_error, 4);
}

// A block decoded with r finest levels left out is the block shrunk 2^r times, of the size the
// helper gives. Its pixel (x, y) sits on pixel (2^r x, 2^r y) of the block (the low-pass keeps
// the even samples' places), so on a smooth picture it is close to the average of the 2^r + 1
// pixels square centred there; a shifted or mis-scaled result is not.
TEST(Htj2k, ReducedResolutionGivesTheShrunkBlock) {
    const int w = 300, h = 217;
    const Bytes rgb = picture(w, h, 9, true);
    const Bytes cs = encode(rgb, w, h, 5, 1.0f / 512);
    for (int skip = 1; skip <= 5; ++skip) {
        SCOPED_TRACE(skip);
        const int ow = htj2k_reduced_side(w, skip), oh = htj2k_reduced_side(h, skip);
        EXPECT_EQ(ow, (w + (1 << skip) - 1) >> skip);
        Bytes got;
        std::string error;
        ASSERT_TRUE(decode_copy(cs, cs.size(), w, h, skip, got, &error)) << error;
        ASSERT_EQ(got.size(), size_t(ow) * size_t(oh) * 4);
        const int s = 1 << skip, r = s / 2;
        double err = 0;
        int count = 0;
        for (int y = 1; (y + 1) * s + r < h; ++y)
            for (int x = 1; (x + 1) * s + r < w; ++x, ++count)
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int yy = -r; yy <= r; ++yy)
                        for (int xx = -r; xx <= r; ++xx)
                            sum += rgb[(size_t(y * s + yy) * w + x * s + xx) * 3 + c];
                    err += std::abs(sum / ((2 * r + 1) * (2 * r + 1)) -
                                    got[(size_t(y) * ow + x) * 4 + c]);
                }
        ASSERT_GT(count, 0);
        EXPECT_LT(err / (3 * count), 2.0);
    }
    Bytes got;
    EXPECT_FALSE(decode_copy(cs, cs.size(), w, h, 6, got));  // more than the codestream has
}

TEST(Htj2k, LevelsStopBeforeALevelOfFewerThanThreeSamples) {
    struct Case {
        int w, h, wanted, levels;
    };
    for (const Case& k : {Case{1, 1, 5, 0}, Case{2, 500, 5, 0}, Case{3, 3, 5, 1},
                          Case{5, 1000, 5, 2}, Case{17, 300, 9, 4}, Case{64, 64, 9, 5},
                          Case{1024, 1024, 9, 9}, Case{1024, 1024, 6, 6}, Case{33, 33, 9, 5}})
        EXPECT_EQ(htj2k_levels_for(k.w, k.h, k.wanted), k.levels) << k.w << "x" << k.h;
}

// Every block shape that ends the level chain at a small size decodes to what was coded: the
// levels that OpenJPH 0.9 mangles are never written.
TEST(Htj2k, SmallAndThinBlocksRoundTrip) {
    for (int w = 1; w <= 40; w += 3)
        for (int h : {1, 2, 3, 4, 5, 8, 9, 16, 17, 33, 68}) {
            const Bytes rgb = picture(w, h, uint32_t(w * 100 + h));
            const Bytes cs = encode(rgb, w, h, 6, 1.0f / 1024);
            Bytes got;
            ASSERT_TRUE(decode_copy(cs, cs.size(), w, h, 0, got)) << w << "x" << h;
            EXPECT_LE(max_error(rgb, got, w, h), 2) << w << "x" << h;
        }
}

TEST(Htj2k, ArgumentsOutOfRangeAreRefused) {
    const Bytes rgb = picture(8, 8, 1);
    Bytes out{1, 2, 3};
    std::string error;
    struct Case {
        int w, h, levels;
        float qstep;
        size_t stride;
    };
    for (const Case& k :
         {Case{0, 8, 5, 0.01f, 24}, Case{8, 1025, 5, 0.01f, 24}, Case{8, 8, -1, 0.01f, 24},
          Case{8, 8, 10, 0.01f, 24}, Case{8, 8, 5, 0.0f, 24}, Case{8, 8, 5, NAN, 24},
          Case{8, 8, 5, 2.0f, 24}, Case{8, 8, 5, 0.01f, 23}}) {
        Htj2kEncodeParams p;
        p.levels = k.levels;
        p.qstep = k.qstep;
        EXPECT_FALSE(encode_htj2k(rgb.data(), k.stride, k.w, k.h, p, out, &error));
        EXPECT_TRUE(out.empty());
        EXPECT_FALSE(error.empty());
    }
    const Bytes cs = encode(rgb, 8, 8, 1, 0.01f);
    uint8_t px[8 * 8 * 4];
    EXPECT_FALSE(decode_htj2k(cs.data(), cs.size(), 8, 8, 0, px, 31, 4));  // stride
    EXPECT_FALSE(decode_htj2k(cs.data(), cs.size(), 8, 8, 0, px, 32, 2));  // pixel size
    EXPECT_FALSE(decode_htj2k(cs.data(), cs.size(), 8, 9, 0, px, 32, 4));  // index disagrees
    EXPECT_FALSE(decode_htj2k(cs.data(), cs.size(), 8, 8, -1, px, 32, 4));
    EXPECT_TRUE(decode_htj2k(cs.data(), cs.size(), 8, 8, 0, px, 32, 4));
}

// The guard around library calls: an abort() inside (what a failed assertion in OpenJPH calls)
// becomes a false return and the process goes on, again and again; an exception becomes its
// text; an abort() anywhere else still ends the process.
TEST(OpenjphGuard, AbortInsideFailsTheCallOnly) {
    openjph_start();
    std::string why;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(openjph_guarded([] { abort(); }, &why));
        EXPECT_NE(why.find("assertion"), std::string::npos) << why;
    }
    EXPECT_FALSE(openjph_guarded([] { throw std::runtime_error("bad bytes"); }, &why));
    EXPECT_EQ(why, "bad bytes");
    EXPECT_TRUE(openjph_guarded([] {}, &why));
    EXPECT_DEATH(abort(), "");
}

class Damaged : public ::testing::Test {
  protected:
    static constexpr int kW = 120, kH = 90;
    // Wavy noise: with these bytes, flipping the top bit of the packet data's fifth byte made
    // OpenJPH 0.9 write past a buffer before the packet walk refused such lengths.
    void SetUp() override {
        Bytes rgb(kW * kH * 3);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = uint8_t(128 + 90 * std::sin(i * 0.01) + (i * 7919) % 9);
        cs = encode(rgb, kW, kH, 5, 1.0f / 128);
    }
    bool accepts(const Bytes& bad, size_t n, int skip = 0) {
        Bytes got;
        return decode_copy(bad, n, kW, kH, skip, got);
    }
    Bytes cs;
};

TEST_F(Damaged, EveryTruncationIsRefused) {
    for (size_t n = 0; n < cs.size(); ++n) EXPECT_FALSE(accepts(cs, n)) << n;
}

// Flipped bytes at every offset, three ways each. Damage may decode to other pixels (there is no
// checksum inside a codestream; the picture file's index carries one) but must neither crash nor
// touch memory outside the buffers (this test under valgrind checks the library's side too).
TEST_F(Damaged, FlippedBytesNeverCrash) {
    Htj2kCodestreamInfo info;
    ASSERT_EQ(check_htj2k_codestream(cs.data(), cs.size(), kW, kH, info), "");
    size_t refused = 0, tried = 0;
    for (size_t at = 0; at < cs.size(); ++at)
        for (uint8_t mask : {0x80, 0x01, 0xFF}) {
            if (mask != 0x80 && at % 3 != 0) continue;  // the top bit everywhere, others sampled
            Bytes bad = cs;
            bad[at] ^= mask;
            // Decoding fewer levels leaves the finer packets unread: damage there goes unseen.
            const int skip = int(at % 2);
            const bool ok = accepts(bad, bad.size(), skip);
            tried += skip == 0;
            refused += skip == 0 && !ok;
        }
    // A third of full decodes notice the damage (markers, lengths, code-block bits that make no
    // sense); the rest give other pixels.
    EXPECT_GT(refused, tried / 4) << refused << " of " << tried;
}

TEST_F(Damaged, HeaderFieldsThatDisagreeAreRefused) {
    // Byte offsets into SIZ and COD as our encoder lays them out (SOC, SIZ at 2, CAP, COD).
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
    };
    // The COD segment follows SIZ (47 + 2 bytes from offset 2) and CAP (10 bytes).
    const size_t cod = 2 + 49 + 10;
    ASSERT_EQ(cs[cod], 0xFF);
    ASSERT_EQ(cs[cod + 1], 0x52);
    ASSERT_EQ(cs[cod + 15], 0x5C);  // QCD right after
    for (const Case& k :
         {Case{"width", 11, 201}, Case{"x offset", 19, 1}, Case{"tile width", 27, 100},
          Case{"components", 41, 4}, Case{"bit depth", 42, 15}, Case{"subsampling", 43, 2},
          Case{"HT flag in Rsiz", 6, 0}, Case{"precincts", cod + 4, 1},
          Case{"progression order", cod + 5, 5}, Case{"layers", cod + 7, 2},
          Case{"colour transform", cod + 8, 0}, Case{"levels", cod + 9, 30},
          Case{"block size", cod + 10, 7}, Case{"HT block style", cod + 12, 0},
          Case{"reversible wavelet", cod + 13, 1}, Case{"QCD style", cod + 14 + 4, 0x21},
          Case{"QCD exponent", cod + 14 + 5, 0xF8}}) {
        Bytes bad = cs;
        bad[k.at] = k.value;
        Htj2kCodestreamInfo info;
        EXPECT_NE(check_htj2k_codestream(bad.data(), bad.size(), kW, kH, info), "") << k.what;
        EXPECT_FALSE(accepts(bad, bad.size())) << k.what;
    }
}

TEST_F(Damaged, GarbageIsRefused) {
    std::mt19937 rng(77);
    for (int i = 0; i < 200; ++i) {
        Bytes bad(1 + rng() % 4000);
        for (uint8_t& b : bad) b = uint8_t(rng());
        if (i % 2) {  // a real header before the garbage reaches the library's parser
            const size_t keep = std::min(bad.size(), size_t(rng() % cs.size()));
            std::copy(cs.begin(), cs.begin() + keep, bad.begin());
        }
        EXPECT_FALSE(accepts(bad, bad.size())) << i;
    }
}

}  // namespace
