#pragma once
// Internal to the fast EZW decoder: what ezw_decode.cpp shares with its AVX2 + BMI2 flag scan
// (ezw_decode_avx2.cpp).
#include <cstdint>
#include <cstring>

#include "decoder/ezw_decode.h"
#include "decoder/scan_order.h"

// Clears the descendants of scan index w (w >= 1) in `act`: at each finer level they are a square
// block of rows of the band, `side` bytes wide, `width` apart.
inline void clear_descendants(uint8_t* act, const ScanTree& tree, int w) {
    int start = tree.first_child[w];
    int width = 2 * tree.band_side[w];
    int side = 2;
    while (start != 0) {
        uint8_t* row = act + start;
        // Constant sizes, so that each row is one store.
        switch (side) {
            case 2:
                for (int r = 0; r < 2; ++r) std::memset(row + r * width, 0, 2);
                break;
            case 4:
                for (int r = 0; r < 4; ++r) std::memset(row + r * width, 0, 4);
                break;
            case 8:
                for (int r = 0; r < 8; ++r) std::memset(row + r * width, 0, 8);
                break;
            case 16:
                for (int r = 0; r < 16; ++r) std::memset(row + r * width, 0, 16);
                break;
            default:  // 32, the largest block (descendants of level 2 in the finest bands)
                for (int r = 0; r < 32; ++r) std::memset(row + r * width, 0, 32);
                break;
        }
        start = tree.first_child[start];
        side *= 2;
        width *= 2;
    }
}

// Padding the AVX2 + BMI2 passes need after the streams: zero bytes after the D dominant bytes and
// after the S subordinate bytes (the buffers hold kMax... + kWidePadding bytes).
constexpr uint32_t kWidePadding = 32;

// Where the passes stopped.
struct PassCounts {
    uint32_t s = 0, b = 0;  // symbols and bits consumed
    int passes = 0;         // passes completed
    int significant = 0;    // coefficients set to +-m
};

#if defined(__x86_64__) && defined(__GNUC__)
// Runs passes at T0, T0 / 2, ... (at most max_passes, while T >= 2) with the AVX2 + BMI2 flag
// scan, writing the significant coefficients into `plane` (which must be all 0.0). `dom` holds D
// bytes and `bits` S bytes, each followed by kWidePadding zero bytes; both are rewritten (the
// symbols and bits of each byte reversed, which leaves the zero padding zero). False when the
// streams ran out (`counts` then tells where, as for the plain scan). Only where
// detect_cpu_features().fast_bmi2 (decoder/kernels.h).
bool run_passes_avx2_bmi2(uint8_t* dom, uint32_t D, uint8_t* bits, uint32_t S, int T0,
                          int max_passes, float* plane, PassCounts& counts);
#endif
