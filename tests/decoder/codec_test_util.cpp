#include "tests/decoder/codec_test_util.h"

#include <zlib.h>

#include <cmath>
#include <cstring>

Bytes make_record_lengths(uint8_t threshold, uint32_t dom_len, uint32_t sub_len, const Bytes& dom,
                          const Bytes& sub) {
    Bytes r{threshold};
    for (int i = 0; i < 4; ++i) r.push_back(uint8_t(dom_len >> (8 * i)));
    for (int i = 0; i < 4; ++i) r.push_back(uint8_t(sub_len >> (8 * i)));
    r.insert(r.end(), dom.begin(), dom.end());
    r.insert(r.end(), sub.begin(), sub.end());
    return r;
}

Bytes make_record(uint8_t threshold, const Bytes& dom, const Bytes& sub) {
    return make_record_lengths(threshold, uint32_t(dom.size()), uint32_t(sub.size()), dom, sub);
}

Bytes zlib_bytes(const Bytes& data, int level) {
    uLongf n = compressBound(uLong(data.size()));
    Bytes out(n);
    const uint8_t empty = 0;
    compress2(out.data(), &n, data.empty() ? &empty : data.data(), uLong(data.size()), level);
    out.resize(n);
    return out;
}

void random_coefficients(std::mt19937& rng, int kind, float* plane) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 4095);
    std::memset(plane, 0, 4096 * sizeof(float));
    switch (kind) {
        case 0:  // dense uniform up to +-500 (some coefficients beyond 2 T)
            for (int p = 0; p < 4096; ++p) plane[p] = u(rng) * 500.0f;
            break;
        case 1:  // sparse: a few large coefficients
            for (int i = 0; i < 20; ++i) plane[pick(rng)] = u(rng) * 300.0f;
            break;
        case 2: {  // natural-looking: magnitude falls off towards the finest bands
            for (int p = 0; p < 4096; ++p) {
                const int r = p / 64, c = p % 64, lvl = std::max(r, c);
                const float scale = 400.0f / float(1 + lvl);
                plane[p] = u(rng) * u(rng) * scale;
            }
            break;
        }
        case 3:  // small integers (ties between 5T/4 and 7T/4 happen)
            for (int p = 0; p < 4096; ++p) plane[p] = float(int(u(rng) * 40.0f));
            break;
        case 4:  // all zero except the DC coefficient
            plane[0] = u(rng) * 400.0f;
            break;
        case 5:  // noise of one magnitude everywhere
            for (int p = 0; p < 4096; ++p)
                plane[p] = (u(rng) > 0 ? 1.0f : -1.0f) * (200.0f + 50.0f * u(rng));
            break;
        default:  // large coarse bands over tiny finest bands: the finest coefficients cost a
                  // symbol each in every pass, more than 16384 over seven passes
            for (int p = 0; p < 4096; ++p) {
                const int r = p / 64, c = p % 64;
                const float m =
                    (r < 32 && c < 32) ? 300.0f + 200.0f * std::fabs(u(rng)) : 4.0f * u(rng);
                plane[p] = u(rng) > 0 ? m : -m;
            }
            break;
    }
}

void random_samples(std::mt19937& rng, float* plane) {
    std::uniform_real_distribution<float> u(-255.0f, 255.0f);
    for (int p = 0; p < 4096; ++p) plane[p] = u(rng);
}

bool same_bits(const float* a, const float* b, int n, std::string* where) {
    for (int i = 0; i < n; ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) {
            if (where)
                *where = "index " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                         std::to_string(b[i]);
            return false;
        }
    }
    return true;
}

std::vector<FastDecoder> fast_decoders() {
    std::vector<FastDecoder> v = {{"plain", decode_channel_record_plain}};
    if (detect_cpu_features().fast_bmi2) v.push_back({"avx2_bmi2", decode_channel_record_wide});
    return v;
}
