// The inverse transform and the colour conversion. Values computed by hand, and every kernel
// variant against the plain reference on random and edge inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "decoder/colour.h"
#include "decoder/lifting.h"
#include "render/kernels.h"
#include "tests/decoder/codec_test_util.h"

namespace {

using WaveletFn = void (*)(float*);
using ColourFn = void (*)(const float*, const float*, const float*, uint8_t*, int);

struct Variant {
    const char* name;
    ::PixelKernels table;  // the kernel table with this variant's transform and colour conversion
    WaveletFn wavelet;
    ColourFn colour;
};

std::vector<Variant> variants() {
    std::vector<Variant> v = {
        {"reference", reference_kernels(), inverse_wavelet_reference, ycbcr_to_rgb_tile_reference}};
    const CpuFeatures cpu = detect_cpu_features();
    CpuFeatures with;
#if defined(__SSE2__)
    with.sse2 = true;
    v.push_back({"sse2", kernels_for(with), inverse_wavelet_sse2, ycbcr_to_rgb_tile_sse2});
#endif
#if defined(__x86_64__) && defined(__GNUC__)
    with.avx2 = true;
    if (cpu.avx2)
        v.push_back({"avx2", kernels_for(with), inverse_wavelet_avx2, ycbcr_to_rgb_tile_avx2});
#endif
    return v;
}

class PixelKernels : public ::testing::TestWithParam<Variant> {};

TEST_P(PixelKernels, AllZeroPlaneDependsOnlyOnTheColumn) {
    float p[4096] = {};
    GetParam().wavelet(p);
    for (int r = 0; r < 64; ++r) {
        EXPECT_EQ(p[r * 64 + 0], -4.5f) << r;
        EXPECT_EQ(p[r * 64 + 1], -5.484375f) << r;
        EXPECT_EQ(p[r * 64 + 63], -7.5f) << r;
        for (int c = 0; c < 64; ++c) {
            EXPECT_EQ(p[r * 64 + c], p[c]);
            EXPECT_GE(p[r * 64 + c], -7.5f);
            EXPECT_LE(p[r * 64 + c], -4.5f);
        }
    }
    EXPECT_EQ(std::memcmp(p, inverse_wavelet_of_zero(), sizeof p), 0);
    // All three planes so: bytes 117 128 115 in column 0, 109 128 107 in column 63.
    uint8_t px[64 * 256];
    GetParam().colour(p, p, p, px, 256);
    for (int r = 0; r < 64; ++r) {
        const uint8_t* a = px + r * 256;
        const uint8_t* b = px + r * 256 + 63 * 4;
        EXPECT_EQ(a[0], 117);
        EXPECT_EQ(a[1], 128);
        EXPECT_EQ(a[2], 115);
        EXPECT_EQ(a[3], 0);
        EXPECT_EQ(b[0], 109);
        EXPECT_EQ(b[1], 128);
        EXPECT_EQ(b[2], 107);
        EXPECT_EQ(b[3], 0);
    }
}

TEST_P(PixelKernels, DcOnlyPlane) {
    float p[4096] = {};
    p[0] = 28.0f;
    GetParam().wavelet(p);
    const float* zero = inverse_wavelet_of_zero();
    EXPECT_EQ(p[0], 23.5f);
    EXPECT_EQ(p[63], 20.5f);
    for (int i = 0; i < 4096; ++i) EXPECT_EQ(p[i], 28.0f + zero[i]) << i;
    // Gain 1 for the DC coefficient (exact for these values).
    for (float v : {-446.0f, -3.0f, 2.0f, 160.0f, 446.0f}) {
        float q[4096] = {};
        q[0] = v;
        GetParam().wavelet(q);
        for (int i = 0; i < 4096; ++i) ASSERT_EQ(q[i], v + zero[i]) << v << " at " << i;
    }
}

TEST_P(PixelKernels, ZeroSamplesGiveGrey) {
    float z[4096] = {};
    uint8_t px[64 * 256];
    GetParam().colour(z, z, z, px, 256);
    for (int i = 0; i < 4096; ++i) {
        const uint8_t* q = px + (i / 64) * 256 + (i % 64) * 4;
        ASSERT_EQ(q[0], 128);
        ASSERT_EQ(q[1], 128);
        ASSERT_EQ(q[2], 128);
        ASSERT_EQ(q[3], 0);
    }
}

TEST_P(PixelKernels, TruncationBeforeClamping) {
    // With Cb = Cr = 0 every component is Y + 128.
    const float ys[] = {-0.1f, -128.5f, 127.9f, 172.0f, -128.0f, 127.0f, -129.0f, -127.99f};
    const uint8_t want[] = {127, 0, 255, 255, 0, 255, 0, 0};
    float y[4096] = {}, zero[4096] = {};
    for (int i = 0; i < 4096; ++i) y[i] = ys[i % 8];
    uint8_t px[64 * 256];
    GetParam().colour(y, zero, zero, px, 256);
    for (int i = 0; i < 4096; ++i) {
        const uint8_t* q = px + (i / 64) * 256 + (i % 64) * 4;
        for (int c = 0; c < 3; ++c) ASSERT_EQ(q[c], want[i % 8]) << "Y=" << ys[i % 8];
    }
    EXPECT_EQ(component_to_byte(127.9), 127);
    EXPECT_EQ(component_to_byte(-0.5), 0);
    EXPECT_EQ(component_to_byte(255.9), 255);
    EXPECT_EQ(component_to_byte(300.0), 255);
    EXPECT_EQ(component_to_byte(0.999), 0);
    EXPECT_EQ(component_to_byte(1e300), 255);
    EXPECT_EQ(component_to_byte(-1e300), 0);
    EXPECT_EQ(component_to_byte(std::nan("")), 0);
}

TEST_P(PixelKernels, StrideIsHonoured) {
    float y[4096], cb[4096], cr[4096];
    std::mt19937 rng(3);
    random_samples(rng, y);
    random_samples(rng, cb);
    random_samples(rng, cr);
    std::vector<uint8_t> a(64 * 256), b(64 * 300, 0xEE);
    GetParam().colour(y, cb, cr, a.data(), 256);
    GetParam().colour(y, cb, cr, b.data(), 300);
    for (int r = 0; r < 64; ++r) {
        EXPECT_EQ(std::memcmp(a.data() + r * 256, b.data() + r * 300, 256), 0);
        for (int k = 256; k < 300; ++k) EXPECT_EQ(b[size_t(r * 300 + k)], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(All, PixelKernels, ::testing::ValuesIn(variants()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- every variant bit-identical to the reference ----------------------------------------------

void edge_plane(std::mt19937& rng, int kind, float* p) {
    const float specials[] = {0.0f,
                              -0.0f,
                              std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::min(),
                              std::numeric_limits<float>::max(),
                              -std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN(),
                              1.0f,
                              -1.0f,
                              0.5f,
                              16777216.0f,
                              16777217.0f,
                              1e-30f,
                              3e38f};
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 4096; ++i) {
        switch (kind) {
            case 0:
                p[i] = u(rng) * 500.0f;
                break;  // realistic magnitudes
            case 1:
                p[i] = float(int(u(rng) * 446.0f));
                break;  // decoder values: integers
            case 2:
                p[i] = u(rng) * 1e30f;
                break;  // huge
            case 3:
                p[i] = u(rng) * 1e-40f;
                break;  // subnormal
            case 4:
                p[i] = specials[rng() % (sizeof specials / sizeof specials[0])];
                break;
            case 5:
                p[i] = std::ldexp(u(rng), int(rng() % 60) - 30);
                break;  // every scale
            default: {  // random bit patterns
                uint32_t bits = uint32_t(rng());
                std::memcpy(&p[i], &bits, 4);
            }
        }
    }
}

TEST(KernelIdentity, InverseWaveletMatchesReference) {
    std::mt19937 rng(11);
    for (const Variant& v : variants()) {
        for (int i = 0; i < 700; ++i) {
            float a[4096], b[4096];
            edge_plane(rng, i % 7, a);
            std::memcpy(b, a, sizeof a);
            inverse_wavelet_reference(a);
            v.wavelet(b);
            std::string where;
            ASSERT_TRUE(same_bits(a, b, 4096, &where))
                << v.name << " kind " << i % 7 << " " << where;
        }
    }
}

TEST(KernelIdentity, ColourMatchesReference) {
    std::mt19937 rng(12);
    for (const Variant& v : variants()) {
        for (int i = 0; i < 700; ++i) {
            float y[4096], cb[4096], cr[4096];
            edge_plane(rng, i % 7, y);
            edge_plane(rng, (i / 7) % 7, cb);
            edge_plane(rng, (i / 49) % 7, cr);
            if (i % 3 == 0) {  // near the clamping and truncation edges
                for (int k = 0; k < 4096; ++k)
                    y[k] = float(int(rng() % 600) - 300) + (k % 5) * 0.25f;
            }
            uint8_t a[64 * 256], b[64 * 256];
            ycbcr_to_rgb_tile_reference(y, cb, cr, a, 256);
            v.colour(y, cb, cr, b, 256);
            ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << v.name << " case " << i;
        }
    }
}

TEST(KernelIdentity, DispatchUsesTheSelectedSet) {
    const ::PixelKernels before = kernels();
    std::mt19937 rng(13);
    for (const Variant& v : variants()) {
        set_kernels(v.table);
        EXPECT_EQ(kernels().inverse_wavelet, v.wavelet) << v.name;
        EXPECT_EQ(kernels().ycbcr_to_rgb, v.colour) << v.name;
        float a[4096], b[4096];
        random_samples(rng, a);
        std::memcpy(b, a, sizeof a);
        inverse_wavelet(a);
        inverse_wavelet_reference(b);
        EXPECT_TRUE(same_bits(a, b, 4096));
    }
    set_kernels(before);
#if defined(__SSE2__)
    // Chosen at start-up on x86-64: the widest set the CPU has.
    if (!reference_kernels_forced())
        EXPECT_EQ(before.inverse_wavelet,
                  detect_cpu_features().avx2 ? inverse_wavelet_avx2 : inverse_wavelet_sse2);
#endif
}

TEST(KernelIdentity, LineLiftingSmallCases) {
    // h = 1: s0 - (d0 + 1) * 0.5, then d0 + s0.
    float s[1] = {10.0f}, d[1] = {3.0f};
    inverse_lift_line(s, d, 1);
    EXPECT_EQ(s[0], 8.0f);
    EXPECT_EQ(d[0], 11.0f);
    // Double evaluation then one rounding: d0 + d1 = 16777217 is exact in double, not in float.
    // s[1] = 0 - (16777216 + 1 + 2) * 0.25 = -4194304.75 -> -4194305 (nearest even float);
    // float arithmetic would give -4194304.5.
    float s2[2] = {0.0f, 0.0f}, d2[2] = {16777216.0f, 1.0f};
    inverse_lift_line(s2, d2, 2);
    EXPECT_EQ(s2[0], -8388608.0f);  // -8388608.5 ties to even
    EXPECT_EQ(s2[1], -4194305.0f);
    EXPECT_EQ(d2[0], 10485760.0f);  // 16777216 - 6291456.5 = 10485759.5 ties to even
    EXPECT_EQ(d2[1], -4194304.0f);
}

}  // namespace
