#include "builder/tile_coder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/colour.h"
#include "decoder/ezw_decode.h"
#include "decoder/lifting.h"
#include "encoder/clones.h"
#include "render/synth.h"
#include "builder/coarse_refine.h"
#include "builder/fast_ezw.h"
#include "builder/rd_quant.h"

namespace builder {
namespace {

// Border distance of every tile pixel, capped at 3.
struct DistanceTable {
    uint8_t d[64][64];
    DistanceTable() {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) d[y][x] = uint8_t(border_distance(x, y));
    }
};
const DistanceTable& distances() {
    static const DistanceTable table;
    return table;
}

// What the viewer's residual addition adds for residual byte r at border distance d, before its
// clamping, taken from the viewer's own routine: at p = 127 no change (-127..128) is clamped.
struct EffectTable {
    int16_t v[4][256];
    bool interior_is_plain = true;  // d >= 3 adds r - 127 unchanged
    EffectTable() {
        for (int d = 0; d < 4; ++d)
            for (int r = 0; r < 256; ++r) v[d][r] = int16_t(residual_value(127, r, d) - 127);
        for (int r = 0; r < 256; ++r) interior_is_plain &= v[3][r] == r - 127;
    }
};
const EffectTable& effects() {
    static const EffectTable table;
    return table;
}

struct TargetTable {
    float v[4][511];
    // Away from the border every byte has an effect of its own (r - 127), so the target is the
    // wanted change clamped to -127..128, less half a step; checked once against the table.
    bool interior_is_clamped_delta = true;
    TargetTable() {
        const EffectTable& ef = effects();
        for (int d = 0; d < 4; ++d)
            for (int delta = -255; delta <= 255; ++delta) {
                // All bytes whose effect is nearest to delta form one run; aim at its middle so
                // that small coding errors still land on the same effect.
                int best = 1 << 30, lo = 0, hi = 0;
                for (int r = 0; r < 256; ++r) {
                    const int e = std::abs(ef.v[d][r] - delta);
                    if (e < best) {
                        best = e;
                        lo = hi = r;
                    } else if (e == best && r == hi + 1) {
                        hi = r;
                    }
                }
                // Byte r comes from component values in [r - 128, r - 127).
                v[d][delta + 255] = float((lo + hi) * 0.5 - 127.5);
            }
        for (int delta = -255; delta <= 255; ++delta)
            interior_is_clamped_delta &= v[3][delta + 255] == interior_target(delta);
    }
    static float interior_target(int delta) {
        return float(std::min(std::max(delta, -127), 128)) - 0.5f;
    }
};
const TargetTable& targets() {
    static const TargetTable table;
    return table;
}

// The targets of a whole tile row as if every pixel were away from the border (the caller
// redoes the border ones).
QV_CLONES void interior_targets(const uint8_t* __restrict s, const uint8_t* __restrict p,
                                float* __restrict o) {
    for (int x = 0; x < 64; ++x) o[x] = TargetTable::interior_target(int(s[x]) - int(p[x]));
}

// Asks for the tile at (x0, y0) of both planes, and for the next one along the row: the
// tiles after this one are the next ones any thread takes.
void prefetch_tiles(const Planes& source, const Planes& prediction, int x0, int y0) {
    source.prefetch_tile(x0, y0);
    prediction.prefetch_tile(x0, y0);
    if (x0 + 128 <= source.w) {
        source.prefetch_tile(x0 + 64, y0);
        prediction.prefetch_tile(x0 + 64, y0);
    }
}

}  // namespace

float Quality::price() const {
    // A geometric scale, quality 60 at the bytes it made before the price existed (measured on
    // photographs and on the world): from there every 40 / 6.5 steps up halve the price, down to
    // kPriceAt100 at 100, and every 20 steps down double it, slowly enough that the low qualities
    // keep their promise on residuals of 15 grey levels RMS.
    const int v = std::clamp(value, 0, 100);
    const double steps = v >= 60 ? (100 - v) * (6.5 / 40.0) : 6.5 + (60 - v) / 20.0;
    return float(kPriceAt100 * std::pow(2.0, steps));
}

double Quality::promised_psnr() const {
    // Calibrated on residuals of up to about 15 grey levels RMS (terrain, photographs): a higher
    // price costs more where the residual is larger, so the promise grows with the square.
    const double q = std::clamp(value, 0, 100) / 100.0;
    return 24.0 + 12.0 * q * q;
}

float residual_target(int d, int delta) {
    return targets().v[std::min(d, 3)][std::clamp(delta, -255, 255) + 255];
}

QV_CLONES void code_tile(const Planes& source, const Planes& prediction, int x0, int y0,
                         const Quality& q, TileCode& out) {
    const TargetTable& tt = targets();
    const DistanceTable& dt = distances();
    prefetch_tiles(source, prediction, x0, y0);
    alignas(16) float plane[3][kTileCoeffs];
    for (int ch = 0; ch < 3; ++ch) {
        for (int y = 0; y < 64; ++y) {
            const uint8_t* s = source.at(ch, x0, y0 + y);
            const uint8_t* p = prediction.at(ch, x0, y0 + y);
            float* o = plane[ch] + y * 64;
            if (y >= 3 && y <= 61 && tt.interior_is_clamped_delta) {
                interior_targets(s, p, o);
                for (int x : {0, 1, 2, 62, 63})
                    o[x] = tt.v[dt.d[y][x]][int(s[x]) - int(p[x]) + 255];
            } else {
                for (int x = 0; x < 64; ++x) o[x] = tt.v[dt.d[y][x]][int(s[x]) - int(p[x]) + 255];
            }
        }
    }
    rgb_to_ycbcr(plane[0], plane[1], plane[2], plane[0], plane[1], plane[2], kTileCoeffs);
    out.refits = 0;
    out.over_budget = false;
    for (int ch = 0; ch < 3; ++ch) {
        forward_wavelet(plane[ch]);
        code_channel(plane[ch], ch, q.price(), out.ch[ch], nullptr, out.refits, out.over_budget);
    }
}

void code_channel(const float* coeffs, int ch, float price, EncodedChannel& out,
                  float* reconstruction, int& refits, bool& over_budget) {
    const float* weight = coefficient_weights().w[ch];
    alignas(32) float kept[kTileCoeffs];
    for (int attempt = 0;; ++attempt) {
        const int t0 = choose_start(coeffs, weight, price, kMaxPasses);
        const StartGrid grid(t0, kMaxPasses);
        quantize_plane(coeffs, weight, grid, price, kept);
        // An isolated zero costs about what a coded coefficient does once the dominant stream
        // is compressed (measured: pricing it higher or lower moves along the same curve).
        prune_trees(coeffs, weight, price, price, kept);
        // The coarse coefficients again, jointly, against everything the choices above left.
        refine_coarse(coeffs, ch, grid, price, kept);
        if (fast_encode_channel(kept, t0, kMaxPasses, out)) break;
        // Too many symbols for the decoder's 4096-byte buffer: code fewer coefficients. The
        // symbols go to the children of coded coefficients, which may be coarse ones worth a
        // great deal, so the price rises steeply; at a price above every coefficient's weighted
        // energy (at most about 3e9) nothing is coded and the record always fits.
        price = attempt >= 15 ? INFINITY : std::max(price * 4.0f, 16.0f);
        ++refits;
        if (refits > 6) over_budget = true;
    }
    if (reconstruction) std::memcpy(reconstruction, kept, sizeof kept);
}

QV_CLONES double closed_loop_error(const Planes& source, const Planes& prediction, int x0, int y0,
                                   const uint8_t* const records[3], const size_t lens[3],
                                   const bool compressed[3], int max_passes, int& short_channels,
                                   int16_t (*error)[64][64]) {
    prefetch_tiles(source, prediction, x0, y0);
    alignas(16) float plane[3][kTileCoeffs];
    for (int ch = 0; ch < 3; ++ch) {
        const DecodeStatus st =
            decode_channel_record(records[ch], lens[ch], compressed[ch], max_passes, plane[ch]);
        if (st != DecodeStatus::ok) ++short_channels;
        inverse_wavelet(plane[ch]);
    }
    alignas(16) uint8_t residual[64 * 64 * 4];
    ycbcr_to_rgb_tile(plane[0], plane[1], plane[2], residual, 256);
    const DistanceTable& dt = distances();
    const EffectTable& ef = effects();
    double sse = 0;
    for (int ch = 0; ch < 3; ++ch) {
        int64_t sum = 0;
        for (int y = 0; y < 64; ++y) {
            const uint8_t* s = source.at(ch, x0, y0 + y);
            const uint8_t* p = prediction.at(ch, x0, y0 + y);
            const uint8_t* r = residual + y * 256 + ch;
            // What the viewer shows at column x (the residual through the border's damping)
            // less the source.
            auto shown_error = [&](int x) {
                const int v = p[x] + ef.v[dt.d[y][x]][r[4 * x]];
                return (v < 0 ? 0 : v > 255 ? 255 : v) - int(s[x]);
            };
            if (error) {
                // The seam measure reads the outer lines and the middle ones only.
                int16_t* out = error[ch][y];
                if (y == 0 || y == 31 || y == 32 || y == 63) {
                    for (int x = 0; x < 64; ++x) out[x] = int16_t(shown_error(x));
                } else {
                    for (int x : {0, 31, 32, 63}) out[x] = int16_t(shown_error(x));
                }
            }
            if (ef.interior_is_plain && y >= 3 && y <= 61) {
                // Away from the damped border the residual adds as it is; this part vectorises.
                int32_t part = 0;
                for (int x = 3; x <= 61; ++x) {
                    const int v = p[x] + r[4 * x] - 127;
                    const int e = (v < 0 ? 0 : v > 255 ? 255 : v) - int(s[x]);
                    part += e * e;
                }
                sum += part;
                for (int x : {0, 1, 2, 62, 63}) {
                    const int e = shown_error(x);
                    sum += e * e;
                }
                continue;
            }
            for (int x = 0; x < 64; ++x) {
                const int e = shown_error(x);
                sum += e * e;
            }
        }
        sse += double(sum);
    }
    return sse;
}

}  // namespace builder
