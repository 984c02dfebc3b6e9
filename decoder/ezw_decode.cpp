// Part 4.2: the tile bit-plane decoder (bitstream side). Two versions: decode_channel_record, the
// fast one the viewer runs, and decode_channel_record_reference, a plain transcription of the
// spec kept as the definition the fast one is tested against.
//
// The fast decoder gives the same plane and status as the reference for every input. It differs
// only in how it gets there:
//   - it reads symbols and bits straight from the packed bytes instead of unpacking them all;
//   - it keeps one "may be coded now" byte per coefficient in scan-index order (the zerotree flag
//     AND the insignificant flag), so the scan loop skips eight cleared coefficients per load;
//   - a zerotree root clears its descendants as square blocks of rows (ScanTree), not one by one;
//   - it inflates with libdeflate (one decompressor per thread), which accepts and rejects the
//     same streams as zlib's uncompress for a 4096-byte destination (tested).
#include "decoder/ezw_decode.h"

#include <cstring>
#include <zlib.h>
#ifdef QUORVIK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "decoder/scan_order.h"

namespace {

constexpr size_t kRecordHeader = 9;

// Reads the 9-byte record header; false when the record is cut short.
bool read_record_header(const uint8_t* rec, size_t len, uint8_t& threshold, uint32_t& dom_len,
                        uint32_t& sub_len) {
    if (rec == nullptr || len < kRecordHeader) return false;
    threshold = rec[0];
    dom_len = uint32_t(rec[1]) | uint32_t(rec[2]) << 8 | uint32_t(rec[3]) << 16 |
              uint32_t(rec[4]) << 24;
    sub_len = uint32_t(rec[5]) | uint32_t(rec[6]) << 8 | uint32_t(rec[7]) << 16 |
              uint32_t(rec[8]) << 24;
    return uint64_t(dom_len) + uint64_t(sub_len) <= uint64_t(len - kRecordHeader);
}

// The checks both decoders make before any pass (same order, same results). On success `dom`
// points at D dominant bytes (inflated into `buf` when compressed) and `sub` at S bytes.
DecodeStatus open_streams(const uint8_t* record, size_t record_len, bool compressed,
                          uint8_t* buf, bool reference, uint8_t& threshold, const uint8_t*& dom,
                          uint32_t& D, const uint8_t*& sub, uint32_t& S) {
    uint32_t dom_len = 0, sub_len = 0;
    threshold = 0;
    if (!read_record_header(record, record_len, threshold, dom_len, sub_len))
        return DecodeStatus::record_truncated;
    if (sub_len > kMaxSubordinateBytes) return DecodeStatus::subordinate_too_long;
    const uint8_t* in = record + kRecordHeader;
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

void fill_info(ChannelDecodeInfo* info, DecodeStatus st, uint8_t threshold, uint32_t D,
               uint32_t s, uint32_t b, int passes, int significant) {
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

// Clears the descendants of scan index w (w >= 1) in `act`: at each finer level they are a square
// block of rows of the band, `side` bytes wide, `width` apart.
inline void clear_descendants(uint8_t* act, const ScanTree& tree, int w) {
    int start = tree.first_child[w];
    int width = 2 * tree.band_side[w];
    int side = 2;
    while (start != 0) {
        uint8_t* row = act + start;
        switch (side) {
            case 2:
                std::memset(row, 0, 2);
                std::memset(row + width, 0, 2);
                break;
            case 4:
                for (int r = 0; r < 4; ++r) std::memset(row + r * width, 0, 4);
                break;
            case 8:
                for (int r = 0; r < 8; ++r) std::memset(row + r * width, 0, 8);
                break;
            default:
                for (int r = 0; r < side; ++r) std::memset(row + r * width, 0, size_t(side));
                break;
        }
        start = tree.first_child[start];
        side *= 2;
        width *= 2;
    }
}

// Index of the first nonzero byte of act[w..], or 4096 or more if none (act is zero-padded).
inline int next_active(const uint8_t* act, int w) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (;;) {
        uint64_t word;
        std::memcpy(&word, act + w, 8);
        if (word != 0) return w + (__builtin_ctzll(word) >> 3);
        w += 8;
        if (w >= 4096) return w;
    }
#else
    while (w < 4096 && act[w] == 0) ++w;
    return w;
#endif
}

}  // namespace

const char* decode_status_name(DecodeStatus status) {
    switch (status) {
        case DecodeStatus::ok: return "ok";
        case DecodeStatus::short_streams: return "short streams";
        case DecodeStatus::zlib_failed: return "zlib failed";
        case DecodeStatus::dominant_too_long: return "dominant stream too long";
        case DecodeStatus::subordinate_too_long: return "subordinate stream too long";
        case DecodeStatus::record_truncated: return "record truncated";
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

DecodeStatus decode_channel_record(const uint8_t* record, size_t record_len, bool compressed,
                                   int max_passes, float* plane, ChannelDecodeInfo* info) {
    std::memset(plane, 0, sizeof(float) * kTileCoeffs);

    alignas(16) uint8_t inflated[kMaxDominantBytes];
    uint8_t T0 = 0;
    const uint8_t* dom = nullptr;
    const uint8_t* sub = nullptr;
    uint32_t D = 0, S = 0;
    DecodeStatus st =
        open_streams(record, record_len, compressed, inflated, false, T0, dom, D, sub, S);
    if (st != DecodeStatus::ok) {
        fill_info(info, st, T0, 0, 0, 0, 0, 0);
        return st;
    }

    const ScanTree& tree = scan_tree();
    // insig[w]: 1 while the coefficient at scan index w is insignificant. act[w]: insig[w] AND its
    // zerotree flag for the current pass. Both padded with zeros for the 8-byte scan.
    alignas(16) uint8_t insig[kTileCoeffs];
    alignas(16) uint8_t act[kTileCoeffs + 16];
    std::memset(insig, 1, sizeof insig);
    std::memset(act + kTileCoeffs, 0, 16);

    const uint32_t n_symbols = 4 * D;
    const uint32_t n_bits = 8 * S;
    uint32_t s = 0, b = 0;
    int significant = 0;
    int T = T0;
    int k = 0;
    for (; k < max_passes && T >= 2; ++k, T /= 2) {
        const float m0 = float((5 * T) / 4);
        const float m1 = float((7 * T) / 4);
        std::memcpy(act, insig, kTileCoeffs);
        for (int w = next_active(act, 0); w < kTileCoeffs; w = next_active(act, w + 1)) {
            if (s >= n_symbols) {
                st = DecodeStatus::short_streams;
                goto done;
            }
            const unsigned x = (dom[s >> 2] >> (6 - 2 * (s & 3))) & 3u;
            ++s;
            if (x == 0) {  // zerotree root
                if (w == 0) break;  // the DC tree is every coefficient: the pass is over
                clear_descendants(act, tree, w);
            } else if (x != 2) {  // 1 positive, 3 negative significant
                if (b >= n_bits) {
                    st = DecodeStatus::short_streams;
                    goto done;
                }
                const unsigned bit = (sub[b >> 3] >> (7 - (b & 7))) & 1u;
                ++b;
                const float m = bit ? m1 : m0;
                plane[tree.pos[w]] = x == 1 ? m : -m;
                insig[w] = 0;
                ++significant;
            }
        }
    }
done:
    fill_info(info, st, T0, D, s, b, k, significant);
    return st;
}

DecodeStatus decode_channel_record_reference(const uint8_t* record, size_t record_len,
                                             bool compressed, int max_passes, float* plane,
                                             ChannelDecodeInfo* info) {
    // Working storage of Part 4.2 (statics here: the reference is single-threaded like the spec).
    static uint8_t dominant_buf[16388];
    static uint8_t dom_symbols[4 * kMaxDominantBytes];
    static uint8_t refine_bits[8 * kMaxSubordinateBytes];
    static uint8_t insignificant_flags[kTileCoeffs];

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
        for (int p = 0; p < kTileCoeffs; ++p) zerotree_flags[p] = 1;
        for (int w = 0; w < kTileCoeffs; ++w) {
            const int p = scan_order[w];
            if (zerotree_flags[p] != 1 || insignificant_flags[p] != 1) continue;
            if (s >= 4 * D) {  // the streams ran out: stop here (left open by the spec)
                st = DecodeStatus::short_streams;
                goto done;
            }
            const int x = dom_symbols[s];
            ++s;
            if (x == 0) {
                if (p == 0) {
                    zerotree_flags[0] = 0;
                    clear_zerotree(1);
                    clear_zerotree(64);
                    clear_zerotree(65);
                } else {
                    clear_zerotree(p);
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
