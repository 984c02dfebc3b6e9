#pragma once
// Codes the residual of one 64 x 64 tile: what must be added to the viewer's prediction to get
// the source, turned into the three channel records the viewer decodes.
#include <cstdint>
#include <vector>

#include "encoder/encoder.h"
#include "render/synth.h"
#include "builder/planes.h"

namespace builder {

// Every record of a data set runs up to seven passes; start thresholds of 128..255 make the last
// pass's threshold 2 or 3, fine enough for the offsets every tile must carry (the inverse
// transform adds -4.5..-7.5 to every sample, so even a flat residual needs its DC coefficient).
constexpr int kMaxPasses = kDataSetPasses;

// Quality 0..100 sets the price of a coded coefficient, in squared error of the tile's RGB
// pixels: a coefficient is coded (and at which of the values the decoder can give it) only where
// that lowers the weighted error by more than the price. One price for every channel, tile and
// level is one rate-distortion slope for the whole data set. Higher quality, lower price.
struct Quality {
    static constexpr double kPriceAt100 = 4.0;
    int value = 60;
    float price() const;
    // The PSNR (dB) of the viewer's picture against the source that this quality is built to
    // reach on photographic or terrain-like residuals; the builder warns about levels below it.
    double promised_psnr() const;
};

struct TileCode {
    EncodedChannel ch[3];      // Y (R file), Cb (G file), Cr (B file)
    int refits = 0;            // times the price had to be raised to fit the stream limits
    bool over_budget = false;  // a channel needed the price raised over 4096-fold to fit
};

// The residual byte the viewer must find in residual_tile, as the colour conversion's input
// value (the centre of the interval that truncates to the wanted byte), for a wanted change
// `delta` (source - prediction, -255..255) at border distance d (0, 1, 2; 3 = interior).
float residual_target(int d, int delta);

// The viewer's damping of the residual near the tile's edges: border distance of tile pixel
// (x, y), capped at 3 (from there on nothing is damped).
inline int border_distance(int x, int y) {
    const int d = residual_border_distance(x, y);
    return d < 3 ? d : 3;
}

// Codes one channel's coefficient plane (after the forward transform) of channel ch (0 = Y,
// 1 = Cb, 2 = Cr) at `price`: the start threshold and every coefficient's value are chosen by
// weighted error and price, trees that do not pay are dropped, and the plane of chosen values
// is coded. When the symbols would not fit the decoder's buffer the price is raised and the
// channel coded again (`refits` counts these; `over_budget` is set when it took more than six),
// until it fits: every record decodes whole. `reconstruction` (may be null) receives exactly the
// plane the decoder will produce from the record.
void code_channel(const float* coeffs, int ch, float price, EncodedChannel& out,
                  float* reconstruction, int& refits, bool& over_budget);

// Codes the tile whose top-left pixel is (x0, y0) in both `source` and `prediction` (same level
// geometry). Thread-safe.
void code_tile(const Planes& source, const Planes& prediction, int x0, int y0, const Quality& q,
               TileCode& out);

// Squared error, summed over the tile's pixels and channels, of what the viewer shows when it
// decodes the three records (`records[c]` with `lens[c]` readable bytes) on top of the prediction,
// against the source; `short_channels` counts channels whose decode did not end cleanly.
// Uses the viewer's own decoder, transform, colour conversion and residual addition. `error`
// (may be null) receives shown - source by channel, row and column, in rows and columns 0, 31,
// 32 and 63 only (what the seam measure reads; the rest is left as it was).
double closed_loop_error(const Planes& source, const Planes& prediction, int x0, int y0,
                         const uint8_t* const records[3], const size_t lens[3],
                         const bool compressed[3], int max_passes, int& short_channels,
                         int16_t (*error)[64][64] = nullptr);

}  // namespace builder
