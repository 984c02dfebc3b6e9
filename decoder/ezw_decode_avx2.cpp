// The fast EZW decoder's AVX2 + BMI2 flag scan: the same passes as the plain scan in
// ezw_decode.cpp (same plane, status and counts for every input), taken 32 coefficients at a
// time from scan index 16 on:
//   - the 32 "may be coded now" flags of a block become one mask A (bit i: coefficient w0 + i);
//     the block's flags are final before its first symbol is read (no coefficient of a block
//     from index 16 on has a descendant in the same block);
//   - the streams are first rewritten least significant first (the four symbols of each dominant
//     byte and the eight bits of each subordinate byte in reverse order), so that one 64-bit load
//     gives the next 32 symbols with symbol j in bits 2j (low) and 2j + 1 (high);
//   - pext gathers the low and the high bits of those symbols, and pdep spreads them over the
//     set bits of A: the block's significant coefficients, their signs and zerotree roots come
//     out as masks; pdep spreads the next refinement bits over the significant ones the same way;
//   - blocks lie inside one band level, so each zerotree root clears a block pattern fixed at
//     compile time; in the finest bands a block is one row of the plane.
// When the streams could run out inside a block, the block is decoded one coefficient at a time
// with every check, exactly as the plain scan does.
#include "decoder/ezw_internal.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#define QV_WIDE __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace {

constexpr int kFinestStart = 1024;  // scan index of the first coefficient of the finest bands
constexpr uint64_t kLowBits = 0x5555555555555555ull;  // low bit of each 2-bit symbol

QV_WIDE inline uint32_t float_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// Rewrites bytes [0, n) (n a multiple of 32) through two 16-entry nibble tables:
// p[i] = lo_table[p[i] & 15] | hi_table[p[i] >> 4].
QV_WIDE void map_nibbles(uint8_t* p, uint32_t n, __m256i lo_table, __m256i hi_table) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    for (uint32_t i = 0; i < n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        const __m256i lo = _mm256_and_si256(v, nibble);
        const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
        const __m256i out =
            _mm256_or_si256(_mm256_shuffle_epi8(lo_table, lo), _mm256_shuffle_epi8(hi_table, hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + i), out);
    }
}

// The four 2-bit symbols of each byte in reverse order: abcd -> dcba. The high nibble (a, b)
// goes to the low nibble as (b, a), the low nibble (c, d) to the high one as (d, c).
QV_WIDE void reverse_symbols(uint8_t* p, uint32_t n) {
    alignas(32) uint8_t lo[32], hi[32];
    for (int x = 0; x < 16; ++x) {
        const int swapped = (x >> 2) | (x & 3) << 2;
        lo[x] = lo[x + 16] = uint8_t(swapped << 4);
        hi[x] = hi[x + 16] = uint8_t(swapped);
    }
    map_nibbles(p, n, _mm256_load_si256(reinterpret_cast<const __m256i*>(lo)),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(hi)));
}

// The eight bits of each byte in reverse order.
QV_WIDE void reverse_bits(uint8_t* p, uint32_t n) {
    alignas(32) uint8_t lo[32], hi[32];
    for (int x = 0; x < 16; ++x) {
        const int r = (x & 1) << 3 | (x & 2) << 1 | (x & 4) >> 1 | (x & 8) >> 3;
        lo[x] = lo[x + 16] = uint8_t(r << 4);
        hi[x] = hi[x + 16] = uint8_t(r);
    }
    map_nibbles(p, n, _mm256_load_si256(reinterpret_cast<const __m256i*>(lo)),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(hi)));
}

// Clears the descendants below a block of `kBlock` x `kBlock` coefficients starting at scan index
// `start` in a band of side kSide: the block itself, then the block of the children (twice the
// side, in a band twice as wide), down to the finest bands.
template <int kSide, int kBlock>
QV_WIDE inline void clear_rows(uint8_t* act, const ScanTree& tree, int start) {
    for (int r = 0; r < kBlock; ++r) std::memset(act + start + r * kSide, 0, kBlock);
    if constexpr (kSide < 32) clear_rows<2 * kSide, 2 * kBlock>(act, tree, tree.first_child[start]);
}

struct WideDecoder {
    const ScanTree& tree;
    float* plane;
    const uint8_t* dom;   // symbol s: bits 2 (s % 4), 2 (s % 4) + 1 of byte s / 4; zero-padded
    const uint8_t* bits;  // bit b: bit b % 8 of byte b / 8; zero-padded
    uint32_t n_symbols, n_bits;
    uint32_t s = 0, b = 0;
    int significant = 0;
    uint32_t mbits[2] = {0, 0};                 // float bits of floor(5T/4) and floor(7T/4)
    alignas(32) uint8_t insig[kTileCoeffs];     // 1 while scan index w is insignificant
    alignas(32) uint8_t act[kTileCoeffs + 32];  // insig AND zerotree flag, this pass

    WideDecoder(const ScanTree& t, float* p, const uint8_t* d, uint32_t D, const uint8_t* sb,
                uint32_t S)
        : tree(t), plane(p), dom(d), bits(sb), n_symbols(4 * D), n_bits(8 * S) {
        std::memset(insig, 1, sizeof insig);
        std::memset(act + kTileCoeffs, 0, 32);
    }

    enum Step { ran_out, next, pass_over };

    // One coefficient of the scan, with every check (the plain scan's decode_one).
    QV_WIDE Step decode_one(int w) {
        if (s >= n_symbols) return ran_out;
        const unsigned x = (dom[s >> 2] >> (2 * (s & 3))) & 3u;
        ++s;
        if (x == 0) {
            if (w == 0) return pass_over;  // the DC tree is every coefficient
            clear_descendants(act, tree, w);
        } else if (x != 2) {
            if (b >= n_bits) return ran_out;
            const unsigned bit = (bits[b >> 3] >> (b & 7)) & 1u;
            ++b;
            const uint32_t value = mbits[bit] | (x >> 1) << 31;
            std::memcpy(&plane[tree.pos[w]], &value, 4);
            insig[w] = 0;
            ++significant;
        }
        return next;
    }

    // Bit i: act[w + i] != 0, for i < 32.
    QV_WIDE uint32_t active_mask(int w) const {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(act + w));
        return ~uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
    }

    // The coefficients w0 + i for the set bits i of A, all in one band level (bands of side
    // kSide; 32: the finest, where w0 starts a row of the band), none a descendant of another.
    // False when the streams ran out.
    template <int kSide>
    QV_WIDE bool decode_block(int w0, uint32_t A) {
        const uint32_t cnt = uint32_t(_mm_popcnt_u32(A));
        // The next 32 symbols (dom is zero-padded): symbol j in bits 2j and 2j + 1.
        const uint8_t* p = dom + (s >> 2);
        uint64_t lo, hi;
        std::memcpy(&lo, p, 8);
        std::memcpy(&hi, p + 8, 8);
        const unsigned shift = 2 * (s & 3);
        const uint64_t win = (lo >> shift) | ((hi << 1) << (63 - shift));
        // pdep uses the low cnt bits: symbol j goes to the j-th active coefficient.
        const uint32_t low = uint32_t(_pext_u64(win, kLowBits));
        const uint32_t high = uint32_t(_pext_u64(win, kLowBits << 1));
        const uint32_t sig = _pdep_u32(low, A);  // symbols 1 and 3
        const uint32_t nsig = uint32_t(_mm_popcnt_u32(sig));
        if (s + cnt > n_symbols || b + nsig > n_bits) {
            // The streams run out inside this block: one by one up to that point.
            for (uint32_t m = A; m != 0; m &= m - 1)
                if (decode_one(w0 + int(_tzcnt_u32(m))) == ran_out) return false;
            return true;
        }
        const uint32_t negative = _pdep_u32(high, A);
        uint64_t r;
        std::memcpy(&r, bits + (b >> 3), 8);  // bits is zero-padded
        const uint32_t one = _pdep_u32(uint32_t(r >> (b & 7)), sig);
        if constexpr (kSide < 32) {
            for (uint32_t zt = _pdep_u32(~(low | high), A); zt != 0; zt &= zt - 1) {
                const int w = w0 + int(_tzcnt_u32(zt));
                clear_rows<2 * kSide, 2>(act, tree, tree.first_child[w]);
            }
        }
        const int row = tree.pos[w0];  // finest bands: w0 + i sits at row + i
        for (uint32_t m = sig; m != 0; m &= m - 1) {
            const int i = int(_tzcnt_u32(m));
            const uint32_t value = mbits[(one >> i) & 1u] | ((negative >> i) & 1u) << 31;
            std::memcpy(&plane[kSide == 32 ? row + i : tree.pos[w0 + i]], &value, 4);
            insig[w0 + i] = 0;
        }
        s += cnt;
        b += nsig;
        significant += int(nsig);
        return true;
    }

    // Blocks of 32 over [from, to), all in bands of side kSide.
    template <int kSide>
    QV_WIDE bool decode_blocks(int from, int to) {
        for (int w = from; w < to; w += 32) {
            const uint32_t A = active_mask(w);
            if (A != 0 && !decode_block<kSide>(w, A)) return false;
        }
        return true;
    }

    // One dominant pass at threshold T. False when the streams ran out.
    QV_WIDE bool pass(int T) {
        mbits[0] = float_bits(float((5 * T) / 4));
        mbits[1] = float_bits(float((7 * T) / 4));
        for (int i = 0; i < kTileCoeffs; i += 32)
            _mm256_store_si256(reinterpret_cast<__m256i*>(act + i),
                               _mm256_load_si256(reinterpret_cast<const __m256i*>(insig + i)));
        // Scan indices 0..15 (DC, levels 2 and 4): children may share their block, so one by
        // one with the flags read afresh.
        for (int w = 0; w < 16; ++w) {
            if (!act[w]) continue;
            const Step step = decode_one(w);
            if (step == ran_out) return false;
            if (step == pass_over) return true;
        }
        // 16..31 (half a block), then whole blocks, each inside one band level.
        const uint32_t first = active_mask(16) & 0xFFFFu;
        if (first != 0 && !decode_block<4>(16, first)) return false;
        return decode_blocks<4>(32, 64) && decode_blocks<8>(64, 256) &&
               decode_blocks<16>(256, kFinestStart) && decode_blocks<32>(kFinestStart, kTileCoeffs);
    }
};

}  // namespace

QV_WIDE bool run_passes_avx2_bmi2(uint8_t* dom, uint32_t D, uint8_t* bits, uint32_t S, int T0,
                                  int max_passes, float* plane, PassCounts& counts) {
    // Whole 32-byte steps: at most D + 31 bytes, inside the padding (zero stays zero).
    reverse_symbols(dom, (D + 31) & ~31u);
    reverse_bits(bits, (S + 31) & ~31u);
    WideDecoder dec(scan_tree(), plane, dom, D, bits, S);
    bool ok = true;
    int T = T0;
    int k = 0;
    for (; k < max_passes && T >= 2; ++k, T /= 2) {
        if (!dec.pass(T)) {
            ok = false;
            break;
        }
    }
    counts.s = dec.s;
    counts.b = dec.b;
    counts.passes = k;
    counts.significant = dec.significant;
    return ok;
}

#endif
