// The tile bit-plane decoder (bitstream side). Two versions: decode_channel_record, the
// fast one the viewer runs, and decode_channel_record_reference, a plain step-by-step version of
// the format's definition, kept as the oracle the fast one is tested against.
//
// The fast decoder gives the same plane and status as the reference for every input. It differs
// only in how it gets there:
//   - it reads symbols and bits straight from the packed bytes instead of unpacking them all;
//   - it keeps one "may be coded now" byte per coefficient in scan-index order (the zerotree flag
//     AND the insignificant flag) and scans them eight at a time: from scan index 16 on, the
//     descendants of a coefficient lie in later words, so the eight flags of a word are final
//     before its first symbol is read; the word's symbols are taken as one bit field and only
//     the significant ones and the zerotree roots with descendants are looked at one by one;
//   - a zerotree root clears its descendants as square blocks of rows (ScanTree), not one by one,
//     and a DC zerotree root ends the pass at once;
//   - it inflates with libdeflate (one decompressor per thread), which accepts and rejects the
//     same streams as zlib's uncompress for a 4096-byte destination (tested);
//   - on CPUs with AVX2 and fast BMI2 (decode_channel_record_wide, chosen by the kernel table)
//     the passes take 32 flags at a time instead of eight, in ezw_decode_avx2.cpp; the eight-flag
//     scan here is the plain one (decode_channel_record_plain), and both are tested against the
//     reference.
#include "decoder/ezw_decode.h"

#include <cstring>
#include <zlib.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "decoder/ezw_internal.h"
#include "decoder/kernels.h"
#include "decoder/scan_order.h"

namespace {

// Reads the 9-byte record header; false when the record is cut short.
bool read_record_header(const uint8_t* rec, size_t len, uint8_t& threshold, uint32_t& dom_len,
                        uint32_t& sub_len) {
    if (rec == nullptr || len < size_t(kRecordHeaderSize)) return false;
    threshold = rec[0];
    dom_len =
        uint32_t(rec[1]) | uint32_t(rec[2]) << 8 | uint32_t(rec[3]) << 16 | uint32_t(rec[4]) << 24;
    sub_len =
        uint32_t(rec[5]) | uint32_t(rec[6]) << 8 | uint32_t(rec[7]) << 16 | uint32_t(rec[8]) << 24;
    return uint64_t(dom_len) + uint64_t(sub_len) <= uint64_t(len - size_t(kRecordHeaderSize));
}

// The checks both decoders make before any pass (same order, same results). On success `dom`
// points at D dominant bytes (inflated into `buf` when compressed) and `sub` at S bytes.
DecodeStatus open_streams(const uint8_t* record, size_t record_len, bool compressed, uint8_t* buf,
                          bool reference, uint8_t& threshold, const uint8_t*& dom, uint32_t& D,
                          const uint8_t*& sub, uint32_t& S) {
    uint32_t dom_len = 0, sub_len = 0;
    threshold = 0;
    if (!read_record_header(record, record_len, threshold, dom_len, sub_len))
        return DecodeStatus::record_truncated;
    if (sub_len > kMaxSubordinateBytes) return DecodeStatus::subordinate_too_long;
    const uint8_t* in = record + size_t(kRecordHeaderSize);
    if (compressed) {
        if (reference) {
            uLongf out_len = kMaxDominantBytes;
            const int rc = uncompress(buf, &out_len, in, dom_len);
            if (rc == Z_BUF_ERROR) return DecodeStatus::dominant_too_long;  // destination full
            if (rc != Z_OK) return DecodeStatus::zlib_failed;
            D = uint32_t(out_len);
        } else {
            const DecodeStatus st = inflate_dominant(in, dom_len, buf, D);
            if (st != DecodeStatus::ok) return st;
        }
        dom = buf;
    } else {
        if (dom_len > kMaxDominantBytes) return DecodeStatus::dominant_too_long;
        dom = in;
        D = dom_len;
    }
    sub = in + dom_len;
    S = sub_len;
    return DecodeStatus::ok;
}

void fill_info(ChannelDecodeInfo* info, DecodeStatus st, uint8_t threshold, uint32_t D, uint32_t s,
               uint32_t b, int passes, int significant) {
    if (!info) return;
    info->status = st;
    info->threshold = threshold;
    info->dominant_bytes = D;
    info->symbols_used = s;
    info->bits_used = b;
    info->passes = passes;
    info->significant = significant;
}

#ifdef QUORVIK_HAVE_LIBDEFLATE
// One decompressor per thread, allocated on first use and freed when the thread ends.
struct ThreadDecompressor {
    libdeflate_decompressor* d = nullptr;
    ~ThreadDecompressor() {
        if (d) libdeflate_free_decompressor(d);
    }
};
thread_local ThreadDecompressor tls_decompressor;
#endif

constexpr int kFinestStart = 1024;  // scan index of the first coefficient of the finest bands

inline uint32_t float_bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

inline int ctz64(uint64_t x) {
#if defined(__GNUC__)
    return __builtin_ctzll(x);
#else
    int n = 0;
    while (!(x & 1)) {
        x >>= 1;
        ++n;
    }
    return n;
#endif
}

// The flag scans read eight flag bytes as one word; byte i of it is act[w + i] on a
// little-endian machine (every target this project builds for).
#if !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
#error "decoder/ezw_decode.cpp assumes a little-endian target"
#endif

inline int clz64(uint64_t x) {  // x != 0
#if defined(__GNUC__)
    return __builtin_clzll(x);
#else
    int n = 0;
    while (!(x >> 63)) {
        x <<= 1;
        ++n;
    }
    return n;
#endif
}

inline uint32_t popcount64(uint64_t x) {  // portable SWAR (no POPCNT in the x86-64 baseline)
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return uint32_t((x * 0x0101010101010101ull) >> 56);
}

inline uint64_t load_be64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return __builtin_bswap64(v);  // little-endian target (checked above)
}

// kSelect[m][j]: the bit number of the j-th set bit of the 8-bit mask m.
struct SelectTable {
    uint8_t t[256][8];
    constexpr SelectTable() : t() {
        for (int m = 0; m < 256; ++m) {
            int j = 0;
            for (int i = 0; i < 8; ++i)
                if (m >> i & 1) t[m][j++] = uint8_t(i);
        }
    }
};
constexpr SelectTable kSelectTable;
constexpr const uint8_t (&kSelect)[256][8] = kSelectTable.t;

// act = insig for a new pass (4096 bytes; a plain loop of 16-byte moves beats rep movs here).
inline void copy_flags(uint8_t* dst, const uint8_t* src) {
#if defined(__SSE2__)
    for (int i = 0; i < kTileCoeffs; i += 64) {
        const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(src + i + 16));
        const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(src + i + 32));
        const __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(src + i + 48));
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i), a);
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i + 16), b);
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i + 32), c);
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i + 48), d);
    }
#else
    std::memcpy(dst, src, kTileCoeffs);
#endif
}

// Index of the first nonzero byte of act[w..], or 4096 or more if none (act is zero-padded).
inline int next_active(const uint8_t* act, int w) {
    for (;;) {
        uint64_t word;
        std::memcpy(&word, act + w, 8);
        if (word != 0) return w + (ctz64(word) >> 3);
        w += 8;
        if (w >= 4096) return w;
    }
}

}  // namespace

const char* decode_status_name(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::ok:
            return "ok";
        case DecodeStatus::short_streams:
            return "short streams";
        case DecodeStatus::zlib_failed:
            return "zlib failed";
        case DecodeStatus::dominant_too_long:
            return "dominant stream too long";
        case DecodeStatus::subordinate_too_long:
            return "subordinate stream too long";
        case DecodeStatus::record_truncated:
            return "record truncated";
    }
    return "unknown";
}

DecodeStatus inflate_dominant(const uint8_t* in, size_t in_len, uint8_t* out, uint32_t& out_len) {
    out_len = 0;
#ifdef QUORVIK_HAVE_LIBDEFLATE
    if (!tls_decompressor.d) {
        tls_decompressor.d = libdeflate_alloc_decompressor();
        if (!tls_decompressor.d) return DecodeStatus::zlib_failed;
    }
    size_t n = 0;
    const libdeflate_result r =
        libdeflate_zlib_decompress(tls_decompressor.d, in, in_len, out, kMaxDominantBytes, &n);
    if (r == LIBDEFLATE_INSUFFICIENT_SPACE) return DecodeStatus::dominant_too_long;
    if (r != LIBDEFLATE_SUCCESS) return DecodeStatus::zlib_failed;
    out_len = uint32_t(n);
    return DecodeStatus::ok;
#else
    uLongf n = kMaxDominantBytes;
    const int rc = uncompress(out, &n, in, uLong(in_len));
    if (rc == Z_BUF_ERROR) return DecodeStatus::dominant_too_long;
    if (rc != Z_OK) return DecodeStatus::zlib_failed;
    out_len = uint32_t(n);
    return DecodeStatus::ok;
#endif
}

namespace {

// State of one fast channel decode.
struct FastDecoder {
    const ScanTree& tree;
    float* plane;
    const uint8_t* dom;   // D bytes + 8 zero bytes
    const uint8_t* bits;  // S bytes + 8 zero bytes
    uint32_t n_symbols, n_bits;
    uint32_t s = 0, b = 0;
    int significant = 0;
    uint32_t mbits[2] = {0, 0};                 // float bits of floor(5T/4) and floor(7T/4)
    alignas(16) uint8_t insig[kTileCoeffs];     // 1 while scan index w is insignificant
    alignas(16) uint8_t act[kTileCoeffs + 16];  // insig AND zerotree flag, this pass

    FastDecoder(const ScanTree& t, float* p, const uint8_t* d, uint32_t D, const uint8_t* sb,
                uint32_t S)
        : tree(t), plane(p), dom(d), bits(sb), n_symbols(4 * D), n_bits(8 * S) {
        std::memset(insig, 1, sizeof insig);
        std::memset(act + kTileCoeffs, 0, 16);
    }

    void set_significant(int w, uint32_t negative) {
        const unsigned bit = (bits[b >> 3] >> (7 - (b & 7))) & 1u;
        ++b;
        const uint32_t value = mbits[bit] | negative << 31;
        std::memcpy(&plane[tree.pos[w]], &value, 4);
        insig[w] = 0;
        ++significant;
    }

    enum Step { ran_out, next, pass_over };

    // One coefficient of the scan, with every check.
    Step decode_one(int w) {
        if (s >= n_symbols) return ran_out;
        const unsigned x = (dom[s >> 2] >> (6 - 2 * (s & 3))) & 3u;
        ++s;
        if (x == 0) {
            if (w == 0) return pass_over;  // the DC tree is every coefficient
            clear_descendants(act, tree, w);
        } else if (x != 2) {
            if (b >= n_bits) return ran_out;
            set_significant(w, x >> 1);
        }
        return next;
    }

    // Eight coefficients w0 .. w0 + 7 (w0 >= 8, a multiple of 8). Their descendants all lie in
    // later words, so the active flags of these eight are known before any of them is decoded.
    // The active ones take the next symbols in order; symbols 2 change nothing, so only the
    // others are looked at one by one (in the finest bands, kFinest, only 1 and 3 matter: a
    // zerotree root there has no descendants). False when the streams ran out.
    template <bool kFinest>
    bool decode_word(int w0, uint64_t word) {
        // Bytes are 0 or 1: their sum is the number of active coefficients, and this multiply
        // gathers byte i's bit into bit i.
        const uint32_t cnt = uint32_t((word * 0x0101010101010101ull) >> 56);
        const uint32_t mask8 = uint32_t((word * 0x0102040810204080ull) >> 56);
        // The next 29 or more symbols, the first in the top two bits (dom is zero-padded).
        const uint64_t win = load_be64(dom + (s >> 2)) << (2 * (s & 3));
        const uint64_t used = ~0ull << (64 - 2 * cnt);
        const uint64_t lo = win & 0x5555555555555555ull & used;  // low bit of each symbol
        if (s + cnt > n_symbols || (b + cnt > n_bits && b + popcount64(lo) > n_bits)) {
            // The streams run out inside these eight: one by one up to that point.
            for (; word != 0; word &= word - 1)
                if (decode_one(w0 + (ctz64(word) >> 3)) == ran_out) return false;
            return true;
        }
        uint64_t todo = lo;
        if (!kFinest) todo |= ~(win >> 1) & 0x5555555555555555ull & used;  // zerotree roots
        const uint8_t* place = kSelect[mask8];  // place[j]: byte of the j-th active coefficient
        while (todo != 0) {
            const int top = 63 - clz64(todo);  // low bit of symbol j: bit 62 - 2 j
            todo ^= 1ull << top;
            const int w = w0 + place[(62 - top) >> 1];
            const uint32_t x = uint32_t(win >> top) & 3u;
            if (kFinest || x != 0)
                set_significant(w, x >> 1);
            else
                clear_descendants(act, tree, w);
        }
        s += cnt;
        return true;
    }

    // Scan indices [from, to) in words of eight, skipping 16 inactive ones at a time.
    template <bool kFinest>
    bool decode_range(int from, int to) {
        for (int w = from; w < to; w += 16) {
            uint64_t w0, w1;
            std::memcpy(&w0, act + w, 8);
            std::memcpy(&w1, act + w + 8, 8);
            if ((w0 | w1) == 0) continue;
            if (w0 != 0 && !decode_word<kFinest>(w, w0)) return false;
            // (w1 is still current: zerotree roots in w0 clear only later bands.)
            if (w1 != 0 && !decode_word<kFinest>(w + 8, w1)) return false;
        }
        return true;
    }

    // One dominant pass at threshold T. False when the streams ran out.
    bool pass(int T) {
        mbits[0] = float_bits(float((5 * T) / 4));
        mbits[1] = float_bits(float((7 * T) / 4));
        copy_flags(act, insig);
        // Scan indices 0..15 (DC, levels 2 and 4): children may share their word, so one by one
        // with the flags read afresh.
        for (int w = 0; w < 16; ++w) {
            if (!act[w]) continue;
            const Step step = decode_one(w);
            if (step == ran_out) return false;
            if (step == pass_over) return true;
        }
        return decode_range<false>(16, kFinestStart) &&
               decode_range<true>(kFinestStart, kTileCoeffs);
    }
};

}  // namespace

namespace {

// The fast decoder with the plain eight-flag scan, or (wide) the AVX2 + BMI2 one.
DecodeStatus decode_fast(const uint8_t* record, size_t record_len, bool compressed, int max_passes,
                         float* plane, ChannelDecodeInfo* info, bool wide) {
    std::memset(plane, 0, sizeof(float) * kTileCoeffs);

    // The dominant bytes (inflated here, or copied from a stored record) and the subordinate
    // bytes, each with zero bytes after them (8 for the plain scan, kWidePadding for the AVX2 +
    // BMI2 one), so that symbols and bits can be read several bytes at a time without leaving the
    // buffers.
    alignas(32) uint8_t dombuf[kMaxDominantBytes + kWidePadding];
    alignas(32) uint8_t subbuf[kMaxSubordinateBytes + kWidePadding];
    uint8_t T0 = 0;
    const uint8_t* dom = nullptr;
    const uint8_t* sub = nullptr;
    uint32_t D = 0, S = 0;
    DecodeStatus st =
        open_streams(record, record_len, compressed, dombuf, false, T0, dom, D, sub, S);
    if (st != DecodeStatus::ok) {
        fill_info(info, st, T0, 0, 0, 0, 0, 0);
        return st;
    }
    if (dom != dombuf) std::memcpy(dombuf, dom, D);
    std::memcpy(subbuf, sub, S);
#if defined(__x86_64__) && defined(__GNUC__)
    if (wide) {
        std::memset(dombuf + D, 0, kWidePadding);
        std::memset(subbuf + S, 0, kWidePadding);
        PassCounts c;
        if (!run_passes_avx2_bmi2(dombuf, D, subbuf, S, T0, max_passes, plane, c))
            st = DecodeStatus::short_streams;
        fill_info(info, st, T0, D, c.s, c.b, c.passes, c.significant);
        return st;
    }
#endif
    std::memset(dombuf + D, 0, 8);
    std::memset(subbuf + S, 0, 8);

    FastDecoder dec(scan_tree(), plane, dombuf, D, subbuf, S);
    int T = T0;
    int k = 0;
    for (; k < max_passes && T >= 2; ++k, T /= 2) {
        if (!dec.pass(T)) {
            st = DecodeStatus::short_streams;
            break;
        }
    }
    fill_info(info, st, T0, D, dec.s, dec.b, k, dec.significant);
    return st;
}

}  // namespace

DecodeStatus decode_channel_record_plain(const uint8_t* record, size_t record_len, bool compressed,
                                         int max_passes, float* plane, ChannelDecodeInfo* info) {
    return decode_fast(record, record_len, compressed, max_passes, plane, info, false);
}

#if defined(__x86_64__) && defined(__GNUC__)
DecodeStatus decode_channel_record_wide(const uint8_t* record, size_t record_len, bool compressed,
                                        int max_passes, float* plane, ChannelDecodeInfo* info) {
    return decode_fast(record, record_len, compressed, max_passes, plane, info, true);
}
#endif

DecodeStatus decode_channel_record(const uint8_t* record, size_t record_len, bool compressed,
                                   int max_passes, float* plane, ChannelDecodeInfo* info) {
    return decoder_kernels().decode_channel(record, record_len, compressed, max_passes, plane,
                                            info);
}

DecodeStatus decode_channel_record_reference(const uint8_t* record, size_t record_len,
                                             bool compressed, int max_passes, float* plane,
                                             ChannelDecodeInfo* info) {
    // Fixed working storage, one set per thread (the zerotree flags too), so that tiles can be
    // decoded with the reference on several threads at once.
    thread_local uint8_t dominant_buf[16388];
    thread_local uint8_t dom_symbols[4 * kMaxDominantBytes];
    thread_local uint8_t refine_bits[8 * kMaxSubordinateBytes];
    thread_local uint8_t insignificant_flags[kTileCoeffs];
    thread_local uint8_t zerotree[kTileCoeffs];

    // 1-2. Record fields; plane to 0.0.
    for (int p = 0; p < kTileCoeffs; ++p) plane[p] = 0.0f;
    uint8_t T0 = 0;
    const uint8_t* dom = nullptr;
    const uint8_t* sub = nullptr;
    uint32_t D = 0, S = 0;
    // 3-4. Dominant bytes (uncompress with capacity 4096) and subordinate bytes.
    DecodeStatus st =
        open_streams(record, record_len, compressed, dominant_buf, true, T0, dom, D, sub, S);
    if (st != DecodeStatus::ok) {
        fill_info(info, st, T0, 0, 0, 0, 0, 0);
        return st;
    }
    // 5. Unpack, most significant bits first.
    for (uint32_t j = 0; j < 4 * D; ++j) dom_symbols[j] = (dom[j / 4] >> (6 - 2 * (j % 4))) & 3;
    for (uint32_t j = 0; j < 8 * S; ++j) refine_bits[j] = (sub[j / 8] >> (7 - (j % 8))) & 1;
    // 6.
    for (int p = 0; p < kTileCoeffs; ++p) insignificant_flags[p] = 1;
    uint32_t s = 0, b = 0;
    int significant = 0;
    int T = T0;
    int k = 0;
    // 7. Passes.
    for (; k < max_passes && T >= 2; ++k) {
        for (int p = 0; p < kTileCoeffs; ++p) zerotree[p] = 1;
        for (int w = 0; w < kTileCoeffs; ++w) {
            const int p = scan_order[w];
            if (zerotree[p] != 1 || insignificant_flags[p] != 1) continue;
            if (s >= 4 * D) {  // the streams ran out: stop this channel here
                st = DecodeStatus::short_streams;
                goto done;
            }
            const int x = dom_symbols[s];
            ++s;
            if (x == 0) {
                if (p == 0) {
                    zerotree[0] = 0;
                    clear_zerotree_in(zerotree, 1);
                    clear_zerotree_in(zerotree, 64);
                    clear_zerotree_in(zerotree, 65);
                } else {
                    clear_zerotree_in(zerotree, p);
                }
            } else if (x == 1 || x == 3) {
                if (b >= 8 * S) {
                    st = DecodeStatus::short_streams;
                    goto done;
                }
                const int m = refine_bits[b] == 0 ? (5 * T) / 4 : (7 * T) / 4;
                ++b;
                plane[p] = x == 1 ? float(m) : float(-m);
                insignificant_flags[p] = 0;
                ++significant;
            }
        }
        T = T / 2;
    }
done:
    fill_info(info, st, T0, D, s, b, k, significant);
    return st;
}
