// Damaged records: truncated records, lengths at and past the limits, corrupt zlib data,
// streams shorter than the passes need. The decoder must stay inside the record (the ASan build
// runs these), keep what it decoded and report the fault.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "decoder/ezw_decode.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "tests/decoder/codec_test_util.h"

namespace {

// Decodes from a heap copy of exactly `len` bytes, so that ASan sees any read past its end. The
// fast decoder runs with every flag scan this CPU has; they must agree in everything.
DecodeStatus decode_exact(const Bytes& rec, size_t len, bool compressed, int passes, float* plane,
                          ChannelDecodeInfo* info = nullptr, bool reference = false) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[len ? len : 1]);
    if (len) std::memcpy(copy.get(), rec.data(), len);
    if (reference)
        return decode_channel_record_reference(copy.get(), len, compressed, passes, plane, info);
    ChannelDecodeInfo first_info;
    DecodeStatus first = DecodeStatus::ok;
    const std::vector<FastDecoder> scans = fast_decoders();
    for (size_t k = 0; k < scans.size(); ++k) {
        float other[4096];
        ChannelDecodeInfo i;
        const DecodeStatus st =
            scans[k].fn(copy.get(), len, compressed, passes, k == 0 ? plane : other, &i);
        if (k == 0) {
            first = st;
            first_info = i;
            continue;
        }
        const char* name = scans[k].name;
        EXPECT_EQ(st, first) << name << " len " << len;
        EXPECT_TRUE(same_bits(other, plane, 4096)) << name << " len " << len;
        EXPECT_EQ(i.symbols_used, first_info.symbols_used) << name << " len " << len;
        EXPECT_EQ(i.bits_used, first_info.bits_used) << name << " len " << len;
        EXPECT_EQ(i.passes, first_info.passes) << name << " len " << len;
        EXPECT_EQ(i.significant, first_info.significant) << name << " len " << len;
        EXPECT_EQ(i.dominant_bytes, first_info.dominant_bytes) << name << " len " << len;
    }
    if (info) *info = first_info;
    return first;
}

bool all_zero(const float* plane) {
    for (int p = 0; p < 4096; ++p)
        if (plane[p] != 0.0f || std::signbit(plane[p])) return false;
    return true;
}

class Malformed : public ::testing::Test {
  protected:
    void SetUp() override {
        build_scan_order();
        for (float& v : plane) v = 123.0f;  // must be overwritten in every case
    }
    float plane[4096];
    ChannelDecodeInfo info;
};

TEST_F(Malformed, TruncatedRecordHeader) {
    const Bytes rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80};
    for (size_t len = 0; len < 9; ++len) {
        EXPECT_EQ(decode_exact(rec, len, false, 4, plane), DecodeStatus::record_truncated) << len;
        EXPECT_TRUE(all_zero(plane));
    }
    EXPECT_EQ(decode_channel_record(nullptr, 0, false, 4, plane), DecodeStatus::record_truncated);
    EXPECT_TRUE(all_zero(plane));
}

TEST_F(Malformed, StreamsReachPastTheRecord) {
    const Bytes rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80};
    EXPECT_EQ(decode_exact(rec, 10, false, 1, plane), DecodeStatus::record_truncated);
    EXPECT_TRUE(all_zero(plane));
    EXPECT_EQ(decode_exact(rec, 11, false, 1, plane), DecodeStatus::ok);
    // Huge lengths: no overflow in the bounds check.
    for (uint32_t dl : {0xFFFFFFFFu, 0xFFFFFFF7u, 0x80000000u})
        for (uint32_t sl : {0u, 1u, 0xFFFFFFFFu}) {
            const Bytes big = make_record_lengths(16, dl, sl, {0x40}, {0x80});
            EXPECT_EQ(decode_exact(big, big.size(), false, 1, plane),
                      DecodeStatus::record_truncated);
            EXPECT_EQ(decode_exact(big, big.size(), true, 1, plane),
                      DecodeStatus::record_truncated);
            EXPECT_TRUE(all_zero(plane));
        }
    // Extra bytes after the record (the next record) are not part of it and are fine.
    Bytes longer = rec;
    longer.insert(longer.end(), {1, 2, 3, 4, 5});
    EXPECT_EQ(decode_exact(longer, longer.size(), false, 1, plane), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 28.0f);
}

TEST_F(Malformed, StoredLengthsAtTheLimits) {
    // 4096 dominant bytes of DC zerotree roots: fine. 4097: too long, nothing decoded.
    Bytes dom(4096, 0x00);
    EXPECT_EQ(decode_exact(make_record(255, dom, {}), 9 + 4096, false, 7, plane, &info),
              DecodeStatus::ok);
    EXPECT_EQ(info.symbols_used, 7u);
    dom.push_back(0);
    EXPECT_EQ(decode_exact(make_record(255, dom, {}), 9 + 4097, false, 7, plane),
              DecodeStatus::dominant_too_long);
    EXPECT_TRUE(all_zero(plane));
    // Subordinate: 4096 bytes fine, 4097 too long.
    Bytes sub(4096, 0xFF);
    Bytes rec = make_record(16, {0x40}, sub);
    EXPECT_EQ(decode_exact(rec, rec.size(), false, 1, plane), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 28.0f);
    sub.push_back(0xFF);
    rec = make_record(16, {0x40}, sub);
    EXPECT_EQ(decode_exact(rec, rec.size(), false, 1, plane), DecodeStatus::subordinate_too_long);
    EXPECT_TRUE(all_zero(plane));
}

TEST_F(Malformed, CompressedLengthsAtTheLimits) {
    for (bool reference : {false, true}) {
        Bytes dom(4096, 0x00);
        Bytes rec = make_record(255, zlib_bytes(dom), {});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 7, plane, &info, reference),
                  DecodeStatus::ok);
        EXPECT_EQ(info.dominant_bytes, 4096u);
        dom.push_back(0);
        rec = make_record(255, zlib_bytes(dom), {});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 7, plane, &info, reference),
                  DecodeStatus::dominant_too_long);
        EXPECT_TRUE(all_zero(plane));
        // Much longer: still rejected, nothing written past the 4096-byte buffer.
        rec = make_record(255, zlib_bytes(Bytes(100000, 0x40)), {0xFF});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 7, plane, nullptr, reference),
                  DecodeStatus::dominant_too_long);
        EXPECT_TRUE(all_zero(plane));
        // Empty compressed stream is no zlib stream.
        rec = make_record(16, {}, {});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 1, plane, nullptr, reference),
                  DecodeStatus::zlib_failed);
        // Empty inflated stream (valid zlib of nothing): no symbols, stops short at once.
        rec = make_record(16, zlib_bytes({}), {});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 1, plane, &info, reference),
                  DecodeStatus::short_streams);
        EXPECT_EQ(info.dominant_bytes, 0u);
        EXPECT_TRUE(all_zero(plane));
    }
}

TEST_F(Malformed, CorruptZlib) {
    const Bytes z = zlib_bytes({0x40, 0xC0, 0x00});
    for (bool reference : {false, true}) {
        // Bad header byte, bad check value, cut short, garbage.
        Bytes bad = z;
        bad[0] ^= 0x01;
        Bytes rec = make_record(4, bad, {0x40});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 2, plane, nullptr, reference),
                  DecodeStatus::zlib_failed);
        EXPECT_TRUE(all_zero(plane));
        bad = z;
        bad.back() ^= 0x55;  // Adler-32
        rec = make_record(4, bad, {0x40});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 2, plane, nullptr, reference),
                  DecodeStatus::zlib_failed);
        for (size_t cut = 0; cut < z.size(); ++cut) {
            rec = make_record(4, Bytes(z.begin(), z.begin() + long(cut)), {0x40});
            EXPECT_EQ(decode_exact(rec, rec.size(), true, 2, plane, nullptr, reference),
                      DecodeStatus::zlib_failed)
                << cut;
            EXPECT_TRUE(all_zero(plane));
        }
        rec = make_record(4, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11}, {0x40});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 2, plane, nullptr, reference),
                  DecodeStatus::zlib_failed);
        // Trailing bytes after a complete zlib stream are ignored (as zlib's uncompress does).
        bad = z;
        bad.insert(bad.end(), {1, 2, 3});
        rec = make_record(4, bad, {0x40});
        EXPECT_EQ(decode_exact(rec, rec.size(), true, 2, plane, nullptr, reference),
                  DecodeStatus::ok);
        EXPECT_EQ(plane[1], -3.0f);
    }
}

TEST_F(Malformed, StreamsShorterThanThePasses) {
    // Bits run out: the significant symbol's coefficient is not set, nothing after it.
    Bytes rec = make_record(16, {0x40}, {});
    EXPECT_EQ(decode_exact(rec, rec.size(), false, 1, plane, &info), DecodeStatus::short_streams);
    EXPECT_TRUE(all_zero(plane));
    EXPECT_EQ(info.symbols_used, 1u);
    EXPECT_EQ(info.bits_used, 0u);
    // Symbols run out in the second pass: the first pass's value stays.
    rec = make_record(4, {0x40, 0xC0}, {0x40});  // example two without its last byte
    EXPECT_EQ(decode_exact(rec, rec.size(), false, 2, plane, &info), DecodeStatus::short_streams);
    EXPECT_EQ(plane[0], 5.0f);
    EXPECT_EQ(plane[1], -3.0f);
    EXPECT_EQ(info.symbols_used, 8u);
    // Bits run out in the second pass.
    rec = make_record(4, {0x40, 0xC0, 0x00}, {});
    EXPECT_EQ(decode_exact(rec, rec.size(), false, 2, plane), DecodeStatus::short_streams);
    EXPECT_TRUE(all_zero(plane));
}

TEST_F(Malformed, EveryTruncationOfEncodedRecords) {
    std::mt19937 rng(7);
    float coeffs[4096];
    for (int i = 0; i < 12; ++i) {
        random_coefficients(rng, i % kPlaneKinds, coeffs);
        EncodedChannel ch;
        encode_channel(coeffs, 200, 7, ch, nullptr);
        for (bool compressed : {false, true}) {
            Bytes rec;
            append_record(rec, ch, compressed);
            const size_t step = rec.size() > 400 ? rec.size() / 97 : 1;
            for (size_t len = 0; len <= rec.size(); len += step) {
                ChannelDecodeInfo a, b;
                float pa[4096], pb[4096];
                const DecodeStatus sa = decode_exact(rec, len, compressed, 7, pa, &a);
                const DecodeStatus sb = decode_exact(rec, len, compressed, 7, pb, &b, true);
                ASSERT_EQ(sa, sb) << len;
                ASSERT_TRUE(same_bits(pa, pb, 4096)) << len;
                if (len < rec.size()) {
                    ASSERT_NE(sa, DecodeStatus::ok) << len;
                }
            }
            // Streams cut short by their lengths (records still self-consistent).
            for (size_t keep : {size_t(0), ch.dominant.size() / 3, ch.dominant.size() / 2}) {
                EncodedChannel cut = ch;
                cut.dominant.resize(keep);
                Bytes r2;
                append_record(r2, cut, compressed);
                float pa[4096], pb[4096];
                const DecodeStatus sa = decode_exact(r2, r2.size(), compressed, 7, pa);
                const DecodeStatus sb =
                    decode_exact(r2, r2.size(), compressed, 7, pb, nullptr, true);
                ASSERT_EQ(sa, sb);
                ASSERT_TRUE(same_bits(pa, pb, 4096));
                if (ch.symbols > 4 * keep) {
                    ASSERT_EQ(sa, DecodeStatus::short_streams);
                }
            }
        }
    }
}

TEST_F(Malformed, MutatedCompressedStreamsAgreeWithZlib) {
    // libdeflate (fast decoder) and zlib's uncompress (reference) accept and reject alike.
    std::mt19937 rng(5);
    float coeffs[4096];
    int rejected = 0;
    for (int i = 0; i < 400; ++i) {
        random_coefficients(rng, i % kPlaneKinds, coeffs);
        EncodedChannel ch;
        encode_channel(coeffs, 2 + int(rng() % 254), 7, ch, nullptr);
        Bytes rec;
        append_record(rec, ch, true);
        const uint32_t dom_len = uint32_t(rec[1]) | uint32_t(rec[2]) << 8;
        const int flips = 1 + int(rng() % 3);
        for (int f = 0; f < flips && dom_len > 0; ++f)
            rec[9 + rng() % dom_len] ^= uint8_t(1 << (rng() % 8));
        float pa[4096], pb[4096];
        ChannelDecodeInfo a, b;
        const DecodeStatus sa = decode_exact(rec, rec.size(), true, 7, pa, &a);
        const DecodeStatus sb = decode_exact(rec, rec.size(), true, 7, pb, &b, true);
        ASSERT_EQ(sa, sb) << i;
        ASSERT_EQ(a.dominant_bytes, b.dominant_bytes);
        ASSERT_TRUE(same_bits(pa, pb, 4096));
        rejected += sa == DecodeStatus::zlib_failed;
    }
    EXPECT_GT(rejected, 300);
}

}  // namespace
