#pragma once
// Helpers for the decoder tests: record bytes, random planes, bitwise plane comparison.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "render/kernels.h"

using Bytes = std::vector<uint8_t>;

// A record: threshold, the two lengths as given (default: the streams' sizes), then the streams.
Bytes make_record(uint8_t threshold, const Bytes& dom, const Bytes& sub);
Bytes make_record_lengths(uint8_t threshold, uint32_t dom_len, uint32_t sub_len, const Bytes& dom,
                          const Bytes& sub);
// zlib stream of `data` (zlib's compress2).
Bytes zlib_bytes(const Bytes& data, int level = 6);

// Random coefficient planes of several kinds (kind 0..kPlaneKinds-1).
constexpr int kPlaneKinds = 7;
void random_coefficients(std::mt19937& rng, int kind, float* plane);
// Random sample planes (pixel domain), values in about -255..255.
void random_samples(std::mt19937& rng, float* plane);

// True when both planes hold the same bits (NaN matches any NaN); `where` gets the first mismatch.
bool same_bits(const float* a, const float* b, int n, std::string* where = nullptr);

// The fast decoders this CPU can run: the plain eight-flag scan always, then the AVX2 + BMI2
// 32-flag scan where available.
struct FastDecoder {
    const char* name;
    DecodeChannelFn fn;
};
std::vector<FastDecoder> fast_decoders();
