// EZW channel encoder on the viewer's scan order and coefficient tree, bitstream
// side. It mirrors the decoder step by step, so the reconstruction it returns is the decoder's.
#include <cmath>
#include <cstring>

#include "decoder/scan_order.h"
#include "encoder/encoder.h"

namespace {

struct Writer {
    std::vector<uint8_t> symbols;  // one per symbol, packed at the end
    std::vector<uint8_t> bits;
};

// Scan-index flags: 1 while w may be coded in this pass (zerotree flag AND insignificant).
void clear_descendants(uint8_t* act, const ScanTree& tree, int w) {
    int start = tree.first_child[w], width = 2 * tree.band_side[w], side = 2;
    while (start != 0) {
        for (int r = 0; r < side; ++r) std::memset(act + start + r * width, 0, size_t(side));
        start = tree.first_child[start];
        side *= 2;
        width *= 2;
    }
}

std::vector<uint8_t> pack(const std::vector<uint8_t>& values, int per_byte) {
    const int width = 8 / per_byte;
    std::vector<uint8_t> out((values.size() + size_t(per_byte) - 1) / size_t(per_byte), 0);
    for (size_t j = 0; j < values.size(); ++j)
        out[j / size_t(per_byte)] |=
            uint8_t(values[j] << (8 - width - width * int(j % size_t(per_byte))));
    return out;
}

}  // namespace

float max_abs_coefficient(const float* coeffs) {
    float m = 0.0f;
    for (int p = 0; p < kTileCoeffs; ++p) {
        const float a = std::fabs(coeffs[p]);
        if (a > m) m = a;  // NaN never wins
    }
    return m;
}

void encode_channel(const float* coeffs, int threshold, int max_passes, EncodedChannel& out,
                    float* reconstruction, uint32_t max_symbols) {
    if (max_symbols > kMaxDominantSymbols) max_symbols = kMaxDominantSymbols;
    const ScanTree& tree = scan_tree();
    out = EncodedChannel{};
    threshold = threshold < 0 ? 0 : threshold > 255 ? 255 : threshold;
    out.threshold = uint8_t(threshold);

    // Magnitudes and signs in scan order (NaN counts as 0).
    static thread_local float mag[kTileCoeffs];
    static thread_local uint8_t negative[kTileCoeffs];
    for (int w = 0; w < kTileCoeffs; ++w) {
        const float c = coeffs[tree.pos[w]];
        mag[w] = std::isnan(c) ? 0.0f : std::fabs(c);
        negative[w] = c < 0.0f;
    }
    uint8_t insig[kTileCoeffs];
    std::memset(insig, 1, sizeof insig);
    float rec[kTileCoeffs] = {};  // by scan index
    float dmax[kTileCoeffs];      // largest magnitude of a still-insignificant descendant
    uint8_t act[kTileCoeffs];

    Writer wr;
    bool cheap = false;
    int T = threshold, k = 0;
    for (; k < max_passes && T >= 2; ++k, T /= 2) {
        const size_t sym_before = wr.symbols.size(), bits_before = wr.bits.size();
        if (!cheap) {
            // Descendant maxima from the finest band up (children come later in scan order).
            for (int w = kTileCoeffs - 1; w >= 0; --w) {
                float m = 0.0f;
                const int fc = w == 0 ? 1 : tree.first_child[w];
                if (fc != 0) {
                    const int width = w == 0 ? 1 : 2 * tree.band_side[w];
                    const int kids[4] = {fc, fc + 1, w == 0 ? 3 : fc + width,
                                         w == 0 ? 3 : fc + width + 1};
                    for (int q : kids) {
                        const float own = insig[q] ? mag[q] : 0.0f;
                        m = std::fmax(m, std::fmax(own, dmax[q]));
                    }
                }
                dmax[w] = m;
            }
            const int m0 = (5 * T) / 4, m1 = (7 * T) / 4;
            uint8_t insig_before[kTileCoeffs];
            std::memcpy(insig_before, insig, sizeof insig);
            std::memcpy(act, insig, sizeof act);
            int newly = 0;
            for (int w = 0; w < kTileCoeffs; ++w) {
                if (!act[w]) continue;
                if (mag[w] >= float(T)) {
                    wr.symbols.push_back(negative[w] ? 3 : 1);
                    const bool bit = double(mag[w]) - m0 > m1 - double(mag[w]);
                    wr.bits.push_back(bit ? 1 : 0);
                    const float m = float(bit ? m1 : m0);
                    rec[w] = negative[w] ? -m : m;
                    insig[w] = 0;
                    ++newly;
                } else if (dmax[w] < float(T)) {
                    wr.symbols.push_back(0);
                    if (w == 0) break;
                    clear_descendants(act, tree, w);
                } else {
                    wr.symbols.push_back(2);
                }
            }
            if (wr.symbols.size() <= size_t(max_symbols)) {
                out.significant += newly;
                continue;
            }
            // Over budget: undo this pass and code it, and every later one, cheaply.
            wr.symbols.resize(sym_before);
            wr.bits.resize(bits_before);
            std::memcpy(insig, insig_before, sizeof insig);
            for (int w = 0; w < kTileCoeffs; ++w)
                if (insig[w]) rec[w] = 0.0f;
            cheap = true;
            out.budget_pass = k;
        }
        // Cheap pass: every coefficient the decoder visits is a zerotree root.
        std::memcpy(act, insig, sizeof act);
        for (int w = 0; w < kTileCoeffs; ++w) {
            if (!act[w]) continue;
            if (wr.symbols.size() >= size_t(max_symbols)) {
                out.truncated = true;  // the decoder will stop here (short streams)
                break;
            }
            wr.symbols.push_back(0);
            if (w == 0) break;
            clear_descendants(act, tree, w);
        }
        if (out.truncated) break;  // pass k is not completed
    }
    out.passes = k;
    out.symbols = uint32_t(wr.symbols.size());
    out.bits = uint32_t(wr.bits.size());
    out.dominant = pack(wr.symbols, 4);
    out.subordinate = pack(wr.bits, 8);
    if (reconstruction) {
        for (int w = 0; w < kTileCoeffs; ++w) reconstruction[tree.pos[w]] = rec[w];
    }
}
