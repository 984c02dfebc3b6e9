#include "tool/builder/tile_coder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decoder/colour.h"
#include "decoder/ezw_decode.h"
#include "decoder/lifting.h"
#include "encoder/clones.h"
#include "render/synth.h"
#include "tool/builder/fast_ezw.h"

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

// Dead-zone factor by coefficient position: full in the finest bands, less in coarser ones, none
// in the four coarsest levels, which hold the tile's mean and the transform's offsets.
struct BandScale {
    float s[kTileCoeffs];
    BandScale() {
        for (int p = 0; p < kTileCoeffs; ++p) {
            const int m = std::max(p / 64, p % 64);
            s[p] = m >= 32 ? 1.0f : m >= 16 ? 0.7f : m >= 8 ? 0.45f : 0.0f;
        }
    }
};
const BandScale& band_scale() {
    static const BandScale table;
    return table;
}

// Start thresholds of 128..255 run seven passes each (the seventh at T = t0 / 64 >= 2). The
// table holds, by pass and start, the pass's threshold and its two reconstruction levels 5T/4
// and 7T/4 as floats, laid out so that one pass of every start is one contiguous row.
constexpr int kLowestStart = 128;
constexpr int kStarts = 256 - kLowestStart;
struct StartTable {
    float t[kMaxPasses][kStarts], lo[kMaxPasses][kStarts], hi[kMaxPasses][kStarts];
    StartTable() {
        for (int i = 0; i < kStarts; ++i)
            for (int k = 0, t = kLowestStart + i; k < kMaxPasses; ++k, t /= 2) {
                this->t[k][i] = float(t);
                lo[k][i] = float((5 * t) / 4);
                hi[k][i] = float((7 * t) / 4);
            }
    }
};
static_assert((kLowestStart >> (kMaxPasses - 1)) >= 2, "every start must run all passes");

// Adds w * d * d to e[i] for every start i from `first` on, where d is the error of the
// decoder's value for a coefficient of magnitude m when the passes start at kLowestStart + i:
// its distance to the nearer reconstruction level of the first pass whose threshold m reaches,
// or m itself when it reaches none.
QV_CLONES void add_coded_errors(const StartTable& st, float m, float w, int first, float* e) {
    for (int i = first; i < kStarts; ++i) {
        float d = m;
        for (int k = kMaxPasses - 1; k >= 0; --k) {
            const float near = std::min(std::fabs(m - st.lo[k][i]), std::fabs(m - st.hi[k][i]));
            d = m >= st.t[k][i] ? near : d;
        }
        e[i] += w * d * d;
    }
}

// Pixel-domain weight of a coding error in each of the 16 coarsest coefficients (the DC
// coefficient and the bands of sizes 2 and 4): roughly how many pixels its pattern covers.
struct CoarseWeights {
    int pos[16];
    float w[16];
    CoarseWeights() {
        int k = 0;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                pos[k] = r * 64 + c;
                const int m = std::max(r, c);
                w[k] = m == 0 ? 4096.0f : m == 1 ? 1024.0f : 256.0f;
                ++k;
            }
    }
};

int start_threshold(const float* coeffs) {
    // Starts of 128..191 end at a last pass of 2, 192..255 at 3. Large coefficients need a high
    // start, since the first pass cannot reconstruct more than 7/4 of its threshold. Within what
    // is left, the start decides which values the coarsest coefficients can take: with a single
    // refinement bit they may be off by an eighth of their size, and an error there shifts a whole
    // tile or half of it, which shows as a seam. Pick the start that codes them best.
    static const CoarseWeights cw;
    // Eight running maxima, so that the loop is not one long chain of dependent max operations.
    float lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (int p = 8; p < kTileCoeffs; p += 8)
        for (int i = 0; i < 8; ++i) {
            const float a = std::fabs(coeffs[p + i]);
            lane[i] = a > lane[i] ? a : lane[i];
        }
    for (int p = 1; p < 8; ++p) lane[0] = std::max(lane[0], std::fabs(coeffs[p]));
    float detail = 0.0f;
    for (float v : lane) detail = std::max(detail, v);
    const int lo = std::clamp(int(std::ceil(detail * 0.5f)) + 1, kLowestStart, 255);
    float mag[16];
    for (int k = 0; k < 16; ++k) mag[k] = std::fabs(coeffs[cw.pos[k]]);
    static const StartTable st;
    alignas(32) float err[kStarts] = {};
    for (int k = 0; k < 16; ++k) add_coded_errors(st, mag[k], cw.w[k], lo - kLowestStart, err);
    int best = lo;
    float best_err = INFINITY;
    for (int t0 = lo; t0 <= 255; ++t0) {
        const float e = err[t0 - kLowestStart];
        if (e < best_err) {
            best_err = e;
            best = t0;
            if (e == 0.0f) break;
        }
    }
    return best;
}

}  // namespace

float Quality::dead_zone() const {
    // 100 drops nothing the passes could resolve; each step below adds a fraction of a grey level.
    const int v = std::clamp(value, 0, 100);
    return float(100 - v) * 0.3f;
}

double Quality::promised_psnr() const {
    // Calibrated on residuals of up to about 15 grey levels RMS (terrain, photographs): the dead
    // zone costs more where the residual is larger, so the promise grows with the square.
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
    const BandScale& bs = band_scale();
    out.refits = 0;
    out.over_budget = false;
    for (int ch = 0; ch < 3; ++ch) {
        forward_wavelet(plane[ch]);
        alignas(16) float kept[kTileCoeffs];
        float zone = q.dead_zone();
        for (int attempt = 0;; ++attempt) {
            for (int p = 0; p < kTileCoeffs; ++p) {
                const float c = plane[ch][p];
                kept[p] = std::fabs(c) < zone * bs.s[p] ? 0.0f : c;
            }
            const int t0 = start_threshold(kept);
            if (fast_encode_channel(kept, t0, kMaxPasses, out.ch[ch])) break;
            if (attempt == 12) {
                // Still too many symbols: let the library's encoder code the last passes
                // cheaply, which always fits.
                encode_channel(kept, t0, kMaxPasses, out.ch[ch], nullptr);
                out.over_budget = true;
                break;
            }
            // Too many symbols for the decoder's 4096-byte buffer: drop more fine detail.
            zone = zone < 2.0f ? 2.0f : zone * 1.5f;
            ++out.refits;
        }
    }
}

QV_CLONES double closed_loop_error(const Planes& source, const Planes& prediction, int x0, int y0,
                                   const uint8_t* const records[3], const size_t lens[3],
                                   const bool compressed[3], int max_passes, int& short_channels) {
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
                    const int v = p[x] + ef.v[dt.d[y][x]][r[4 * x]];
                    const int e = (v < 0 ? 0 : v > 255 ? 255 : v) - int(s[x]);
                    sum += e * e;
                }
                continue;
            }
            for (int x = 0; x < 64; ++x) {
                const int v = p[x] + ef.v[dt.d[y][x]][r[4 * x]];
                const int shown = v < 0 ? 0 : v > 255 ? 255 : v;
                const int e = shown - int(s[x]);
                sum += e * e;
            }
        }
        sse += double(sum);
    }
    return sse;
}

}  // namespace builder
