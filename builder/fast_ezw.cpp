#include "builder/fast_ezw.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "decoder/scan_order.h"
#include "encoder/clones.h"

namespace builder {
namespace {

// Packs values of `width` bits, first value in the top bits of the first byte, into a fixed
// buffer large enough for any stream the decoder accepts (and a little more, so that running over
// the limit is detected rather than written past).
template <int width, size_t capacity>
struct Packer {
    uint8_t bytes[capacity];
    uint32_t count = 0;
    Packer() { std::memset(bytes, 0, sizeof bytes); }
    void put(uint32_t v) {
        constexpr int per = 8 / width;
        bytes[count / per] |= uint8_t(v << (8 - width - width * int(count % per)));
        ++count;
    }
    void copy_to(std::vector<uint8_t>& out) const {
        out.assign(bytes, bytes + (count + per_byte() - 1) / per_byte());
    }
    static constexpr uint32_t per_byte() { return 8 / width; }
};

// A start threshold of at most 255 falls below 2 after seven halvings, so no record has more
// passes than this.
constexpr int kMostPasses = 7;

// The scan visits each band row by row, so scan order is a list of runs of consecutive
// positions: one for the DC coefficient and one per row of every band (190 in all).
struct ScanRun {
    int16_t w, p, len;
};
struct ScanRuns {
    static constexpr int kCount = 190;
    ScanRun run[kCount];
    ScanRuns() {
        const ScanTree& tree = scan_tree();
        int n = 0;
        for (int w = 0; w < kTileCoeffs;) {
            int len = 1;
            while (w + len < kTileCoeffs && tree.pos[w + len] == tree.pos[w] + len &&
                   (tree.pos[w] + len) % 64 != 0 && len < tree.band_side[w])
                ++len;
            if (n == kCount) std::abort();  // the scan is not the one this table was made for
            run[n++] = {int16_t(w), tree.pos[w], int16_t(len)};
            w += len;
        }
        if (n != kCount) std::abort();
    }
};
const ScanRuns& scan_runs() {
    static const ScanRuns runs;
    return runs;
}

}  // namespace

QV_CLONES bool fast_encode_channel(const float* coeffs, int threshold, int max_passes,
                                   EncodedChannel& out) {
    const ScanTree& tree = scan_tree();
    threshold = threshold < 0 ? 0 : threshold > 255 ? 255 : threshold;
    out.threshold = uint8_t(threshold);
    out.dominant.clear();
    out.subordinate.clear();
    out.symbols = out.bits = 0;
    out.passes = 0;
    out.significant = 0;
    out.budget_pass = -1;
    out.truncated = false;

    int T[kMostPasses];
    int passes = 0;
    for (int t = threshold; passes < max_passes && passes < kMostPasses && t >= 2; t /= 2)
        T[passes++] = t;
    out.passes = passes;
    if (passes == 0) return true;

    // Pass in which each coefficient becomes significant (255: never), by scan index, and the
    // set of such passes among each coefficient's descendants.
    static thread_local float mag[kTileCoeffs];
    static thread_local uint8_t sig_pass[kTileCoeffs];
    static thread_local uint16_t below[kTileCoeffs];
    static thread_local uint8_t negative[kTileCoeffs];
    {
        // By position first, branch-free so that the compiler vectorises it; then into scan
        // order.
        alignas(32) float a[kTileCoeffs];
        alignas(32) uint8_t sp[kTileCoeffs];
        for (int p = 0; p < kTileCoeffs; ++p) {
            const float m = std::fabs(coeffs[p]);
            a[p] = m == m ? m : 0.0f;  // NaN counts as 0
        }
        // The thresholds fall from pass to pass, so the pass of significance is the number of
        // thresholds above the magnitude (all of them: never). Unused slots hold 0, which no
        // magnitude is below.
        float t[kMostPasses] = {};
        for (int k = 0; k < passes; ++k) t[k] = float(T[k]);
        for (int p = 0; p < kTileCoeffs; ++p) {
            int above = 0;
            for (int k = 0; k < kMostPasses; ++k) above += a[p] < t[k];
            sp[p] = uint8_t(above == passes ? 255 : above);
        }
        alignas(32) uint8_t neg[kTileCoeffs];
        for (int p = 0; p < kTileCoeffs; ++p) neg[p] = coeffs[p] < 0.0f;
        for (const ScanRun& r : scan_runs().run) {
            std::memcpy(mag + r.w, a + r.p, sizeof(float) * r.len);
            std::memcpy(sig_pass + r.w, sp + r.p, r.len);
            std::memcpy(negative + r.w, neg + r.p, r.len);
        }
    }
    // The pass of significance as a bit, and by scan index the passes in which some descendant
    // becomes significant, a band row at a time from the finest parents up (each parent's four
    // children are two neighbours in each of two rows of the finer band).
    static thread_local uint16_t pass_bit[kTileCoeffs];
    for (int w = 0; w < kTileCoeffs; ++w)
        pass_bit[w] = sig_pass[w] < 16 ? uint16_t(1u << sig_pass[w]) : uint16_t(0);
    static_assert(kTileCoeffs == 4096, "the finest bands start at scan index 1024");
    for (int w = 1024; w < kTileCoeffs; ++w) below[w] = 0;
    const ScanRuns& runs = scan_runs();
    for (int i = ScanRuns::kCount - 1; i >= 1; --i) {
        const ScanRun& r = runs.run[i];
        if (r.w >= 1024) continue;
        const int fc = tree.first_child[r.w], width = 2 * tree.band_side[r.w];
        const uint16_t* b0 = below + fc;
        const uint16_t* b1 = below + fc + width;
        const uint16_t* p0 = pass_bit + fc;
        const uint16_t* p1 = pass_bit + fc + width;
        uint16_t* out = below + r.w;
        for (int j = 0; j < r.len; ++j)
            out[j] = uint16_t(b0[2 * j] | b0[2 * j + 1] | b1[2 * j] | b1[2 * j + 1] | p0[2 * j] |
                              p0[2 * j + 1] | p1[2 * j] | p1[2 * j + 1]);
    }
    below[0] = below[1] | below[2] | below[3] | pass_bit[1] | pass_bit[2] | pass_bit[3];

    // Enough for one pass more than the limit allows; every pass checks the limit at its end.
    static thread_local Packer<2, kMaxDominantBytes + 1024 + 8> sym;
    static thread_local Packer<1, kMaxSubordinateBytes + 512 + 8> bit;
    std::memset(sym.bytes, 0, sizeof sym.bytes);
    std::memset(bit.bytes, 0, sizeof bit.bytes);
    sym.count = bit.count = 0;
    static thread_local int16_t list_a[kTileCoeffs], list_b[kTileCoeffs], group[kTileCoeffs];
    for (int k = 0; k < passes; ++k) {
        const int m0 = (5 * T[k]) / 4, m1 = (7 * T[k]) / 4;
        // Codes coefficient w; true when its children are visited in this pass.
        auto code = [&](int w) -> bool {
            const uint8_t sp = sig_pass[w];
            if (sp < k) return true;  // significant earlier: takes no symbol
            if (sp == k) {
                sym.put(negative[w] ? 3u : 1u);
                const double a = double(mag[w]);
                bit.put(a - m0 > m1 - a ? 1u : 0u);
                ++out.significant;
                return true;
            }
            if (below[w] & (1u << k)) {
                sym.put(2);
                return true;
            }
            sym.put(0);
            return false;
        };
        if (!code(0)) {
            if (sym.count > kMaxDominantSymbols) return false;
            continue;  // a zerotree root at the DC coefficient ends the pass
        }
        int16_t* cur = list_a;
        int16_t* next = list_b;
        int n = 3;
        cur[0] = 1, cur[1] = 2, cur[2] = 3;
        while (n > 0) {
            if (tree.first_child[cur[0]] == 0) {
                // The finest bands: no children.
                for (int i = 0; i < n; ++i) code(cur[i]);
                break;
            }
            int nn = 0, i = 0;
            while (i < n) {
                // One row of one band: its children fill two rows of the finer band, each in
                // the order of their parents. fc / width names the children's first row.
                const int width = 2 * tree.band_side[cur[i]];
                const int shift = __builtin_ctz(unsigned(width));
                const int key = tree.first_child[cur[i]] >> shift;
                int g = 0;
                for (; i < n; ++i) {
                    const int w = cur[i];
                    const int fc = tree.first_child[w];
                    if ((fc >> shift) != key) break;
                    if (code(w)) group[g++] = int16_t(fc);
                }
                for (int j = 0; j < g; ++j) {
                    next[nn++] = group[j];
                    next[nn++] = int16_t(group[j] + 1);
                }
                for (int j = 0; j < g; ++j) {
                    next[nn++] = int16_t(group[j] + width);
                    next[nn++] = int16_t(group[j] + width + 1);
                }
            }
            std::swap(cur, next);
            n = nn;
        }
        if (sym.count > kMaxDominantSymbols) return false;
    }
    if (sym.count > kMaxDominantSymbols) return false;
    out.symbols = sym.count;
    out.bits = bit.count;
    sym.copy_to(out.dominant);
    bit.copy_to(out.subordinate);
    return true;
}

}  // namespace builder
