// The library's forward transform lifts all lines of a level at once so that it vectorises. Its
// output must equal, bit for bit, lifting one line at a time with the per-sample rule (each
// expression in double, stored as float, no contraction): the data sets it feeds are compared
// byte for byte between builds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "decoder/lifting.h"
#include "encoder/encoder.h"

namespace {

// One line at a time, straight from the lifting rule; the reference for the kernel.
void plain_lift_line(float* s, float* d, int h) {
    for (int k = 0; k + 1 < h; ++k)
        d[k] = float(double(d[k]) - (double(s[k]) + double(s[k + 1])) * 0.5);
    d[h - 1] = float(double(d[h - 1]) - double(s[h - 1]));
    s[0] = float(double(s[0]) + (double(d[0]) + 1.0) * 0.5);
    for (int k = 1; k < h; ++k)
        s[k] = float(double(s[k]) + ((double(d[k - 1]) + double(d[k])) + 2.0) * 0.25);
}

void plain_forward_wavelet(float* P) {
    float s[32], d[32];
    for (int n = 64; n >= 2; n /= 2) {
        const int h = n / 2;
        for (int r = 0; r < n; ++r) {
            float* row = P + r * 64;
            for (int k = 0; k < h; ++k) {
                s[k] = row[2 * k];
                d[k] = row[2 * k + 1];
            }
            plain_lift_line(s, d, h);
            std::memcpy(row, s, sizeof(float) * size_t(h));
            std::memcpy(row + h, d, sizeof(float) * size_t(h));
        }
        for (int c = 0; c < n; ++c) {
            for (int k = 0; k < h; ++k) {
                s[k] = P[(2 * k) * 64 + c];
                d[k] = P[(2 * k + 1) * 64 + c];
            }
            plain_lift_line(s, d, h);
            for (int k = 0; k < h; ++k) {
                P[k * 64 + c] = s[k];
                P[(h + k) * 64 + c] = d[k];
            }
        }
    }
}

uint32_t bits_of(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

// Compares bit patterns (the sign of zero included); reports the first mismatch. A NaN matches
// any NaN: which operand's sign and payload an operation passes on depends on the order the
// compiler put them in, and the coder treats every NaN as a zero coefficient.
void expect_same_as_plain(const std::vector<float>& input, const char* what) {
    std::vector<float> fast(input), plain(input);
    forward_wavelet(fast.data());
    plain_forward_wavelet(plain.data());
    for (int p = 0; p < kTileCoeffs; ++p) {
        const float f = fast[size_t(p)], q = plain[size_t(p)];
        if (std::isnan(f) && std::isnan(q)) continue;
        if (bits_of(f) != bits_of(q)) {
            ADD_FAILURE() << what << ": coefficient " << p << " (row " << p / 64 << ", column "
                          << p % 64 << ") is " << fast[size_t(p)] << ", plain lifting gives "
                          << plain[size_t(p)];
            return;
        }
    }
}

TEST(ForwardWaveletKernel, MatchesPlainLiftingOnRandomTiles) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> residual(-128.0f, 128.0f);
    std::uniform_real_distribution<float> wide(-1e6f, 1e6f);
    std::vector<float> tile(kTileCoeffs);
    for (int trial = 0; trial < 200; ++trial) {
        for (float& v : tile) v = trial % 2 ? residual(rng) : wide(rng);
        expect_same_as_plain(tile, "random");
    }
}

TEST(ForwardWaveletKernel, MatchesPlainLiftingOnRoundingSensitiveValues) {
    // Halves and quarters of odd integers and values near float precision limits are where a
    // different association or a fused multiply-add would round differently.
    std::mt19937 rng(99);
    std::uniform_int_distribution<int> pick(0, 5);
    std::uniform_int_distribution<int> odd(-1000, 1000);
    const float tiny = std::numeric_limits<float>::denorm_min();
    std::vector<float> tile(kTileCoeffs);
    for (int trial = 0; trial < 100; ++trial) {
        for (float& v : tile) {
            switch (pick(rng)) {
                case 0:
                    v = float(2 * odd(rng) + 1) * 0.5f;
                    break;
                case 1:
                    v = float(2 * odd(rng) + 1) * 0.25f;
                    break;
                case 2:
                    v = 16777215.0f * (odd(rng) < 0 ? -1.0f : 1.0f);
                    break;
                case 3:
                    v = 1.0f + float(odd(rng)) * 1.1920929e-7f;
                    break;
                case 4:
                    v = tiny * float(odd(rng));
                    break;
                default:
                    v = -0.0f;
                    break;
            }
        }
        expect_same_as_plain(tile, "rounding");
    }
}

TEST(ForwardWaveletKernel, MatchesPlainLiftingOnEdgeInputs) {
    std::vector<float> tile(kTileCoeffs, 0.0f);
    expect_same_as_plain(tile, "zeros");
    std::fill(tile.begin(), tile.end(), 255.0f);
    expect_same_as_plain(tile, "constant");
    for (int p = 0; p < kTileCoeffs; ++p)
        tile[size_t(p)] = (p / 64 + p % 64) % 2 ? 127.5f : -127.5f;
    expect_same_as_plain(tile, "checkerboard");
    // A single impulse at each corner and in the middle: exercises the symmetric extension at both
    // ends of every line.
    for (int p : {0, 63, 64 * 63, 4095, 64 * 32 + 31, 64 * 1 + 1, 64 * 62 + 62}) {
        std::fill(tile.begin(), tile.end(), 0.0f);
        tile[size_t(p)] = 1000.0f;
        expect_same_as_plain(tile, "impulse");
    }
    std::fill(tile.begin(), tile.end(), std::numeric_limits<float>::max());
    expect_same_as_plain(tile, "float max (overflows to infinity)");
    std::fill(tile.begin(), tile.end(), 1.0f);
    tile[700] = std::numeric_limits<float>::quiet_NaN();
    tile[3000] = std::numeric_limits<float>::infinity();
    expect_same_as_plain(tile, "NaN and infinity");
}

TEST(ForwardWaveletKernel, InverseRestoresTheTile) {
    // The kernel must stay the inverse of the viewer's transform, not merely self-consistent.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> px(-127, 128);
    std::vector<float> tile(kTileCoeffs), back;
    for (int trial = 0; trial < 20; ++trial) {
        for (float& v : tile) v = float(px(rng));
        back = tile;
        forward_wavelet(back.data());
        inverse_wavelet(back.data());
        for (int p = 0; p < kTileCoeffs; ++p)
            ASSERT_NEAR(back[size_t(p)], tile[size_t(p)], 1e-3f) << "coefficient " << p;
    }
}

}  // namespace
