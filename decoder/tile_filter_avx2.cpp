// The tile filter's row kernel built for AVX2 (eight 32-bit lanes with a native multiply);
// only called when the CPU reports AVX2 (kernels.cpp).
#include "decoder/tile_filter_row.h"

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void tile_filter_row_avx2(const int8_t* taps, const int16_t* above,
                                                          const int16_t* mid, const int16_t* below,
                                                          int w, int16_t* out) {
    tile_filter_row_body(taps, above, mid, below, w, out);
}
#endif
