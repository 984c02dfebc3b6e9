#include "render/synth.h"

#include <cstring>

#include "app/settings.h"
#include "render/render_buffers.h"
#include "store/data_set.h"

namespace {

constexpr int kTargetStride = kSynthSize * 4;

inline int clamp_byte(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}
inline int clamp_to(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

void upsample_step(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                   uint8_t* target) {
    kernels().upsample_step(source, w, h, stride, bpp, ox, oz, target);
}

void upsample_step_plain(const uint8_t* source, int w, int h, int stride, int bpp, int ox, int oz,
                         uint8_t* target) {
    auto b = [&](int i, int j, int c) {
        const int x = clamp_to(ox + i, 0, w - 1);
        const int y = clamp_to(oz + j, 0, h - 1);
        return int(source[size_t(y) * stride + size_t(x) * bpp + c]);
    };
    for (int y = 0; y < kSynthSize; ++y) {
        for (int x = 0; x < kSynthSize; ++x) {
            const int N = x >> 1, M = y >> 1;
            for (int c = 0; c < 3; ++c) {
                int v;
                if (!(x & 1) && !(y & 1)) {
                    v = b(N, M, c);
                } else if (!(y & 1)) {
                    v = (9 * (b(N, M, c) + b(N + 1, M, c)) - b(N - 1, M, c) - b(N + 2, M, c)) >> 4;
                } else if (!(x & 1)) {
                    v = (9 * (b(N, M, c) + b(N, M + 1, c)) - b(N, M - 1, c) - b(N, M + 2, c)) >> 4;
                } else {
                    int I = 0, E = 0, C = 0;
                    for (int j = M - 1; j <= M + 2; ++j) {
                        for (int i = N - 1; i <= N + 2; ++i) {
                            const bool inner_i = i == N || i == N + 1;
                            const bool inner_j = j == M || j == M + 1;
                            if (inner_i && inner_j)
                                I += b(i, j, c);
                            else if (!inner_i && !inner_j)
                                C += b(i, j, c);
                            else
                                E += b(i, j, c);
                        }
                    }
                    v = (81 * I - 9 * E + C) >> 8;
                }
                target[size_t(y) * kTargetStride + size_t(x) * 4 + c] = uint8_t(clamp_byte(v));
            }
        }
    }
}

const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd, UpsampleFn step) {
    // Parities from the finest level down; afterwards (tc, tr) is the level-2 ancestor.
    int px[6] = {0}, py[6] = {0};
    for (int l = L; l >= 3; --l) {
        px[l] = tc & 1;
        py[l] = tr & 1;
        tc >>= 1;
        tr >>= 1;
    }
    step(base.data, base.w, base.h, base.stride, base.bpp, 32 * tc - 2, 32 * tr - 2, even);
    for (int l = 3; l <= L; ++l) {
        const uint8_t* from = (l & 1) ? even : odd;
        uint8_t* to = (l & 1) ? odd : even;
        step(from, kSynthSize, kSynthSize, kSynthSize * 4, 4, 2 + 32 * px[l], 2 + 32 * py[l], to);
    }
    return (L & 1) ? odd : even;
}

const uint8_t* synthesise_tile_into(const RawImage& base, int tc, int tr, int L, uint8_t* even,
                                    uint8_t* odd) {
    return synthesise_tile_into(base, tc, tr, L, even, odd, kernels().upsample_step);
}

const RawImage& synthesise_tile(int s, int tc, int tr, int L) {
    synthesise_tile_into(base_tex[s], tc, tr, L, synth_a.data, synth_b.data);
    return (L & 1) ? synth_b : synth_a;
}

int residual_value(int p, int r, int d) {
    // The residual's zero point is 127; the outermost three rows and columns are damped, more
    // strongly on the top and left edges (d counts 0 only there).
    const int q = r - 127;
    int v;
    switch (d) {
        case 0:
            v = p + (q >> 1);
            break;
        case 1:
            v = p + (2 * q) / 3;
            break;
        case 2:
            v = p + (4 * q) / 5;
            break;
        default:
            v = p + q;
            break;
    }
    return clamp_byte(v);
}

void add_residual_tile_plain(const uint8_t* pred, int ps, const uint8_t* res, int rs, uint8_t* out,
                             int os) {
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            residual_pixel(pred + y * ps + x * 4, res + y * rs + x * 4, out + y * os + x * 4,
                           residual_border_distance(x, y));
}

void copy_prediction_core(const uint8_t* core, int core_stride, uint8_t* out, int out_stride) {
    for (int y = 0; y < 64; ++y) memcpy(out + y * out_stride, core + y * core_stride, 64 * 4);
}

namespace {

void add_final(const RawImage& prediction, AddResidualFn add) {
    const uint8_t* core = prediction.data + kSynthMargin * prediction.stride + kSynthMargin * 4;
    if (!viewer_settings.compressedResidue)
        copy_prediction_core(core, prediction.stride, final_tile.data, final_tile.stride);
    else
        add(core, prediction.stride, residual_tile.data, residual_tile.stride, final_tile.data,
            final_tile.stride);
}

}  // namespace

void add_residual(const RawImage& prediction) {
    add_final(prediction, kernels().add_residual);
}

void add_residual_plain(const RawImage& prediction) {
    add_final(prediction, add_residual_tile_plain);
}
