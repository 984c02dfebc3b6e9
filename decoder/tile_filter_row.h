#pragma once
// The body of the tile filter's row kernel, shared by its versions (decoder/tile_filter.h): the
// compiler vectorises it for whichever instruction set the calling function is built for.
#include <algorithm>
#include <cstdint>

#include "decoder/tile_filter.h"

__attribute__((always_inline)) inline void tile_filter_row_body(const int8_t* taps,
                                                                const int16_t* __restrict a,
                                                                const int16_t* __restrict m,
                                                                const int16_t* __restrict b, int w,
                                                                int16_t* __restrict out) {
    const int t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
    const int centre = kTileFilterOne - 2 * (t0 + t1 + t2 + t3);
    for (int x = 0; x < w; ++x) {
        const int acc = centre * m[x] + t0 * (m[x - 1] + m[x + 1]) + t1 * (a[x] + b[x]) +
                        t2 * (a[x - 1] + b[x + 1]) + t3 * (a[x + 1] + b[x - 1]) +
                        kTileFilterOne / 2;
        out[x] = int16_t(std::clamp(acc >> 7, 0, 255));
    }
}
