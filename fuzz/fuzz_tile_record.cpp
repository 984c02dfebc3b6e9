// Fuzz target: one tile record, decoded with and without a compressed dominant stream.
//
// Input: byte 0 bit 0 = the file's `compressed` flag, byte 1 = the file's max_passes, the rest is
// the record (threshold, dom_len, sub_len, streams). The buffer ends exactly where the record
// bytes end, so any read past the record is an out-of-bounds read the sanitizer reports.
//
// The fast decoder is compared with the plain reference decoder on every input: same status, same
// counts, same plane, bit for bit. Then both decodes get the shared plane checks.
#include <cstdint>
#include <cstring>

#include "decoder/scan_order.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool scan_ready = (build_scan_order(), true);
    (void)scan_ready;
    if (size < 2) return 0;
    const bool compressed = data[0] & 1;
    const int max_passes = data[1];
    const uint8_t* record = data + 2;
    const size_t record_len = size - 2;

    static float fast[kTileCoeffs];
    static float reference[kTileCoeffs];
    ChannelDecodeInfo fast_info, ref_info;
    const DecodeStatus fast_status =
        decode_channel_record(record, record_len, compressed, max_passes, fast, &fast_info);
    const DecodeStatus ref_status = decode_channel_record_reference(
        record, record_len, compressed, max_passes, reference, &ref_info);

    // A zlib stream cut off just as its output reaches 4096 bytes is a fault either way, but the
    // two inflaters name it differently: zlib sees a full output buffer (too long), libdeflate a
    // stream without its end (failed). Both leave the plane empty, which the checks below hold.
    const auto inflate_fault = [](DecodeStatus s) {
        return s == DecodeStatus::zlib_failed || s == DecodeStatus::dominant_too_long;
    };
    if (!(compressed && inflate_fault(fast_status) && inflate_fault(ref_status)))
        FUZZ_CHECK(fast_status == ref_status);
    FUZZ_CHECK(fast_info.dominant_bytes == ref_info.dominant_bytes);
    FUZZ_CHECK(fast_info.symbols_used == ref_info.symbols_used);
    FUZZ_CHECK(fast_info.bits_used == ref_info.bits_used);
    FUZZ_CHECK(fast_info.passes == ref_info.passes);
    FUZZ_CHECK(fast_info.significant == ref_info.significant);
    FUZZ_CHECK(memcmp(fast, reference, sizeof fast) == 0);

    const uint32_t sub_len = record_len >= size_t(kRecordHeaderSize) ? read_u32le(record + 5) : 0;
    fuzz_check_plane(fast, fast_status, fast_info, sub_len);
    if (fast_status == DecodeStatus::record_truncated)
        FUZZ_CHECK(record_len < size_t(kRecordHeaderSize) ||
                   uint64_t(kRecordHeaderSize) + read_u32le(record + 1) + sub_len > record_len);
    return 0;
}
