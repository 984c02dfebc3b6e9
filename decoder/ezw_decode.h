#pragma once
// Tile bit-plane decoder: one channel record -> one 64 x 64 coefficient plane.
// Bitstream side only; the pixel maths (lifting, colour) live in lifting.h and colour.h.
//
// decode_channel_record is pure and bounded: it uses no globals of the store or the viewer (only
// constant tables built on first use), never reads outside [record, record + record_len), never
// prints, never allocates (except libdeflate's decompressor, once per thread), and is thread-safe.
// The viewer (decode_tile_channel), quorvik-tool's verifier and the fuzzers all use it.
#include <cstddef>
#include <cstdint>

#include "store/format.h"  // kTileCoeffs and the stream limits

constexpr uint32_t kMaxDominantSymbols = kMaxDominantBytes * 4;    // 16384
constexpr uint32_t kMaxRefinementBits = kMaxSubordinateBytes * 8;  // 32768

// How a channel decode ended. On damaged or short streams the decoder stops that channel and
// keeps the plane as decoded so far; it never reads past the record or the unpacked streams.
enum class DecodeStatus : uint8_t {
    ok = 0,                // every pass found the symbols and bits it needed
    short_streams,         // the passes needed more symbols than 4 D or more bits than 8 S: the
                           // channel stopped there, values decoded before it are kept
    zlib_failed,           // the dominant stream is not a complete, valid zlib stream (what zlib's
                           // uncompress reports as other than Z_OK): plane all 0.0
    dominant_too_long,     // the dominant stream inflates past 4096 bytes, or a stored one has
                           // dom_len > 4096: plane all 0.0
    subordinate_too_long,  // sub_len > 4096: plane all 0.0
    record_truncated,      // record_len < 9 or < 9 + dom_len + sub_len: plane all 0.0
};
const char* decode_status_name(DecodeStatus status);

// Optional details of one channel decode (for tests, tools and the benchmark).
struct ChannelDecodeInfo {
    DecodeStatus status = DecodeStatus::ok;
    uint8_t threshold = 0;        // start threshold read from the record (0 if truncated)
    uint32_t dominant_bytes = 0;  // D: dominant bytes after inflating (or as stored)
    uint32_t symbols_used = 0;    // dominant symbols consumed (s at the end)
    uint32_t bits_used = 0;       // refinement bits consumed (b at the end)
    int passes = 0;               // passes completed
    int significant = 0;          // coefficients set to +-m (0: the plane is all 0.0)
};

// Decodes one channel record (threshold, dom_len, sub_len, streams) into `plane`
// (4096 floats, index row * 64 + column), exactly as decode_tile_channel:
//   - `record_len` is how many bytes are readable from `record` (the record may be followed by
//     others; only 9 + dom_len + sub_len of them are used);
//   - `compressed`: the header's `compressed` byte is nonzero (dominant stream is zlib data);
//   - `max_passes`: the header's `max_passes` byte (0..255).
// The plane is always fully written (0.0 where nothing was decoded).
// This runs the kernel table's decoder (decoder/kernels.h): one of the three below.
DecodeStatus decode_channel_record(const uint8_t* record, size_t record_len, bool compressed,
                                   int max_passes, float* plane, ChannelDecodeInfo* info = nullptr);

// The same, written as a plain step-by-step decoder (unpacked symbol and bit arrays, the
// zerotree_flags / clear_zerotree walk, zlib's uncompress). Slow; the reference the fast
// decoders are tested against. Uses the global scan_order (build_scan_order() must have run) and
// zerotree flags of its own; its working storage is per thread, so threads may share it.
DecodeStatus decode_channel_record_reference(const uint8_t* record, size_t record_len,
                                             bool compressed, int max_passes, float* plane,
                                             ChannelDecodeInfo* info = nullptr);

// The fast decoder with the plain eight-flag scan (every processor) and with the AVX2 + BMI2
// 32-flag scan (only where detect_cpu_features() reports fast_bmi2; x86-64 builds only).
DecodeStatus decode_channel_record_plain(const uint8_t* record, size_t record_len, bool compressed,
                                         int max_passes, float* plane,
                                         ChannelDecodeInfo* info = nullptr);
DecodeStatus decode_channel_record_wide(const uint8_t* record, size_t record_len, bool compressed,
                                        int max_passes, float* plane,
                                        ChannelDecodeInfo* info = nullptr);

// Inflates a zlib stream into out[0..4096): ok, zlib_failed or dominant_too_long; `out_len` gets
// the inflated length on success. Semantics of zlib's uncompress with a 4096-byte destination.
DecodeStatus inflate_dominant(const uint8_t* in, size_t in_len, uint8_t* out, uint32_t& out_len);
