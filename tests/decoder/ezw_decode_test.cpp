// Known records decoded by hand, on both the fast decoder and the plain reference decoder, and
// the fast decoder against the reference on many valid and random records.
#include <gtest/gtest.h>

#include <random>

#include "decoder/ezw_decode.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "tests/decoder/codec_test_util.h"

namespace {

using DecodeFn = DecodeStatus (*)(const uint8_t*, size_t, bool, int, float*, ChannelDecodeInfo*);

struct Decoder {
    const char* name;
    DecodeFn fn;
};

// The fast decoder with each flag scan this CPU has, and the reference.
std::vector<Decoder> decoders() {
    std::vector<Decoder> v = {{"fast", decode_channel_record_plain}};
    if (detect_cpu_features().fast_bmi2)
        v.push_back({"fast_avx2_bmi2", decode_channel_record_wide});
    v.push_back({"reference", decode_channel_record_reference});
    return v;
}

class EzwExamples : public ::testing::TestWithParam<Decoder> {
  protected:
    void SetUp() override { build_scan_order(); }
    DecodeStatus decode(const Bytes& rec, bool compressed, int max_passes) {
        return GetParam().fn(rec.data(), rec.size(), compressed, max_passes, plane, &info);
    }
    int nonzero_count() const {
        int n = 0;
        for (float v : plane) n += v != 0.0f;
        return n;
    }
    float plane[4096];
    ChannelDecodeInfo info;
};

TEST_P(EzwExamples, StoredExampleOne) {
    // 10 01 00 00 00 01 00 00 00 40 80: T = 16, symbols 1 0 0 0, bit 1.
    const Bytes rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80};
    EXPECT_EQ(decode(rec, false, 1), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 28.0f);
    EXPECT_EQ(nonzero_count(), 1);
    EXPECT_EQ(info.symbols_used, 4u);
    EXPECT_EQ(info.bits_used, 1u);
    EXPECT_EQ(info.passes, 1);
    EXPECT_EQ(info.significant, 1);
}

TEST_P(EzwExamples, StoredExampleOneVariants) {
    Bytes rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x00};  // bit 0
    EXPECT_EQ(decode(rec, false, 1), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 20.0f);
    EXPECT_EQ(nonzero_count(), 1);
    rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0xC0, 0x80};  // symbol 3: negative
    EXPECT_EQ(decode(rec, false, 1), DecodeStatus::ok);
    EXPECT_EQ(plane[0], -28.0f);
    EXPECT_EQ(nonzero_count(), 1);
    // A second pass needs symbols the stream does not have: it stops, keeping plane[0].
    rec = {0x10, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0x80};
    EXPECT_EQ(decode(rec, false, 2), DecodeStatus::short_streams);
    EXPECT_EQ(plane[0], 28.0f);
    EXPECT_EQ(nonzero_count(), 1);
    EXPECT_EQ(info.symbols_used, 4u);
}

TEST_P(EzwExamples, StoredExampleTwo) {
    // 04 03 00 00 00 01 00 00 00 40 C0 00 40: T = 4 then 2.
    const Bytes rec = {0x04, 0x03, 0, 0, 0, 0x01, 0, 0, 0, 0x40, 0xC0, 0x00, 0x40};
    for (int passes : {2, 3, 8, 255}) {
        EXPECT_EQ(decode(rec, false, passes), DecodeStatus::ok) << passes;
        EXPECT_EQ(plane[0], 5.0f);
        EXPECT_EQ(plane[1], -3.0f);
        EXPECT_EQ(nonzero_count(), 2);
        EXPECT_EQ(info.symbols_used, 11u);
        EXPECT_EQ(info.bits_used, 2u);
        EXPECT_EQ(info.passes, 2);
    }
    EXPECT_EQ(decode(rec, false, 1), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 5.0f);
    EXPECT_EQ(nonzero_count(), 1);
    EXPECT_EQ(info.symbols_used, 4u);
}

TEST_P(EzwExamples, CompressedExamplesDecodeTheSame) {
    const Bytes rec = make_record(0x04, zlib_bytes({0x40, 0xC0, 0x00}), {0x40});
    EXPECT_EQ(decode(rec, true, 2), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 5.0f);
    EXPECT_EQ(plane[1], -3.0f);
    EXPECT_EQ(nonzero_count(), 2);
    EXPECT_EQ(info.dominant_bytes, 3u);
}

TEST_P(EzwExamples, NoPassForThresholdBelowTwoOrZeroPasses) {
    const Bytes dom = {0x55, 0x55}, sub = {0xFF};
    for (uint8_t T : {0, 1}) {
        EXPECT_EQ(decode(make_record(T, dom, sub), false, 8), DecodeStatus::ok);
        EXPECT_EQ(nonzero_count(), 0);
        EXPECT_EQ(info.symbols_used, 0u);
        EXPECT_EQ(info.passes, 0);
    }
    EXPECT_EQ(decode(make_record(200, dom, sub), false, 0), DecodeStatus::ok);
    EXPECT_EQ(nonzero_count(), 0);
    EXPECT_EQ(info.passes, 0);
    // Empty streams are fine when no pass runs.
    EXPECT_EQ(decode(make_record(1, {}, {}), false, 8), DecodeStatus::ok);
    EXPECT_EQ(decode(make_record(100, {}, {}), false, 0), DecodeStatus::ok);
}

TEST_P(EzwExamples, DcZerotreeRootEndsEveryPass) {
    const Bytes rec = make_record(16, {0x00}, {});
    EXPECT_EQ(decode(rec, false, 4), DecodeStatus::ok);
    EXPECT_EQ(nonzero_count(), 0);
    EXPECT_EQ(info.symbols_used, 4u);
    EXPECT_EQ(info.passes, 4);
    EXPECT_EQ(decode(rec, false, 9), DecodeStatus::ok);  // T = 16, 8, 4, 2, then 1 stops
    EXPECT_EQ(info.symbols_used, 4u);
    EXPECT_EQ(decode(make_record(32, {0x00}, {}), false, 9), DecodeStatus::short_streams);
    EXPECT_EQ(nonzero_count(), 0);
}

TEST_P(EzwExamples, ReconstructionValues) {
    // DC positive significant in the first pass; value floor(5T/4) or floor(7T/4).
    const int cases[][3] = {{2, 2, 3},       {3, 3, 5},       {4, 5, 7},      {16, 20, 28},
                            {127, 158, 222}, {128, 160, 224}, {255, 318, 446}};
    for (const auto& c : cases) {
        for (int bit = 0; bit < 2; ++bit) {
            const Bytes rec = make_record(uint8_t(c[0]), {0x40}, {uint8_t(bit ? 0x80 : 0x00)});
            decode(rec, false, 1);
            EXPECT_EQ(plane[0], float(c[1 + bit])) << "T=" << c[0] << " bit " << bit;
        }
    }
}

TEST_P(EzwExamples, SignificantCoefficientIsNeverCodedAgain) {
    // Pass 1 (T=8): DC positive (bit 0 -> 10), 1/64/65 zerotree roots. Pass 2 (T=4): DC is
    // skipped, 1/64/65 are zerotree roots again: 7 symbols. (Were DC coded again, its symbol 0
    // would end pass 2 after 5 symbols.)
    const Bytes rec = make_record(8, {0x40, 0x00}, {0x00});
    EXPECT_EQ(decode(rec, false, 2), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 10.0f);
    EXPECT_EQ(plane[1], 0.0f);
    EXPECT_EQ(info.symbols_used, 7u);
}

TEST_P(EzwExamples, IsolatedZeroKeepsTheTree) {
    // T=8: DC isolated zero (2), position 1 positive (bit 1 -> 14), 64 and 65 zerotree roots;
    // then the children of 1 (positions 2, 3, 66, 67): 2 negative (bit 0 -> -10), 3, 66 and 67
    // zerotree roots; then the children of 2 (positions 4, 5, 68, 69): zerotree roots.
    // Symbols 2 1 0 0 | 3 0 0 0 | 0 0 0 0, bits 1 0.
    const Bytes rec = make_record(8, {0x90, 0xC0, 0x00}, {0x80});
    EXPECT_EQ(decode(rec, false, 1), DecodeStatus::ok);
    EXPECT_EQ(plane[0], 0.0f);
    EXPECT_EQ(plane[1], 14.0f);
    EXPECT_EQ(plane[2], -10.0f);
    EXPECT_EQ(nonzero_count(), 2);
    EXPECT_EQ(info.symbols_used, 12u);
    EXPECT_EQ(info.bits_used, 2u);
}

INSTANTIATE_TEST_SUITE_P(Both, EzwExamples, ::testing::ValuesIn(decoders()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- fast decoder == reference -------------------------------------------------------------

// The fast decoder, with every flag scan this CPU has, against the reference.
void expect_same_decode(const Bytes& rec, bool compressed, int max_passes, const char* what) {
    float b[4096];
    ChannelDecodeInfo ib;
    const DecodeStatus sb =
        decode_channel_record_reference(rec.data(), rec.size(), compressed, max_passes, b, &ib);
    for (const FastDecoder& fast : fast_decoders()) {
        float a[4096];
        ChannelDecodeInfo ia;
        const DecodeStatus sa = fast.fn(rec.data(), rec.size(), compressed, max_passes, a, &ia);
        std::string where;
        const char* name = fast.name;
        ASSERT_EQ(sa, sb) << what << " " << name;
        ASSERT_TRUE(same_bits(a, b, 4096, &where)) << what << " " << name << " " << where;
        ASSERT_EQ(ia.symbols_used, ib.symbols_used) << what << " " << name;
        ASSERT_EQ(ia.bits_used, ib.bits_used) << what << " " << name;
        ASSERT_EQ(ia.passes, ib.passes) << what << " " << name;
        ASSERT_EQ(ia.significant, ib.significant) << what << " " << name;
        ASSERT_EQ(ia.dominant_bytes, ib.dominant_bytes) << what << " " << name;
    }
}

TEST(EzwScanSelection, StartUpPicksTheWideScanWhereAvailable) {
    // decode_channel_record runs the table's decoder: the wide scan where the CPU has fast BMI2.
    if (reference_kernels_forced()) GTEST_SKIP() << "reference kernels forced";
    EXPECT_EQ(kernels().decode_channel, detect_cpu_features().fast_bmi2
                                            ? decode_channel_record_wide
                                            : decode_channel_record_plain);
}

TEST(EzwFastVsReference, EncodedPlanes) {
    build_scan_order();
    std::mt19937 rng(1234);
    float coeffs[4096];
    for (int i = 0; i < 300; ++i) {
        random_coefficients(rng, i % kPlaneKinds, coeffs);
        const int T = 2 + int(rng() % 254);
        const int passes = 1 + int(rng() % 9);
        EncodedChannel ch;
        encode_channel(coeffs, T, passes, ch, nullptr);
        for (bool compressed : {false, true}) {
            Bytes rec;
            append_record(rec, ch, compressed);
            expect_same_decode(rec, compressed, passes, "encoded");
            expect_same_decode(rec, compressed, passes + 2, "more passes than coded");
            // Cut the subordinate stream short.
            if (!ch.subordinate.empty()) {
                EncodedChannel cut = ch;
                cut.subordinate.resize(cut.subordinate.size() / 2);
                Bytes r2;
                append_record(r2, cut, compressed);
                expect_same_decode(r2, compressed, passes, "short bits");
            }
        }
    }
}

TEST(EzwFastVsReference, RandomStreams) {
    build_scan_order();
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        Bytes dom(rng() % 600), sub(rng() % 300);
        // Bias towards zerotree roots and isolated zeros sometimes, to reach deep passes.
        const int mode = i % 3;
        for (auto& x : dom) {
            x = uint8_t(rng());
            if (mode == 1) x &= 0xAA;  // symbols 0 and 2 only
            if (mode == 2 && rng() % 2) x = 0;
        }
        for (auto& x : sub) x = uint8_t(rng());
        const uint8_t T = uint8_t(rng());
        const int passes = int(rng() % 12);
        expect_same_decode(make_record(T, dom, sub), false, passes, "random stored");
        expect_same_decode(make_record(T, zlib_bytes(dom), sub), true, passes, "random compressed");
    }
}

TEST(EzwFastVsReference, StreamsEndingAtEveryPlaceOfABlock) {
    // Uniform streams keep whole 32-coefficient blocks active (isolated zeros keep every
    // coefficient coded in every pass; all-significant first passes code all 4096), so cutting
    // the dominant stream at every byte, or the subordinate one at every byte, makes the streams
    // run out at every place of a block and at every symbol offset inside a byte.
    build_scan_order();
    std::mt19937 rng(31);
    const uint8_t patterns[] = {0x55, 0xFF, 0xAA, 0x66, 0x9D, 0x1B};
    for (uint8_t pattern : patterns) {
        Bytes dom(1100, pattern), sub(600);
        for (auto& x : sub) x = uint8_t(rng());
        for (size_t keep = 0; keep <= dom.size(); keep += 1 + keep / 256) {
            const Bytes cut(dom.begin(), dom.begin() + long(keep));
            expect_same_decode(make_record(200, cut, sub), false, 9, "dominant cut");
        }
        for (size_t keep = 0; keep <= sub.size(); keep += 1 + keep / 128) {
            const Bytes cut(sub.begin(), sub.begin() + long(keep));
            expect_same_decode(make_record(200, dom, cut), false, 9, "subordinate cut");
        }
    }
    // Runs of isolated zeros of every length before one significant symbol: the block's
    // significant coefficient and its refinement bit land at every offset.
    for (int run = 0; run < 200; ++run) {
        Bytes dom(1 + (run + 4) / 4 + 300, 0xAA);
        const int pos = run + 4;  // after DC and the three level-2 coefficients
        dom[size_t(pos / 4)] = uint8_t((dom[size_t(pos / 4)] & ~(3 << (6 - 2 * (pos % 4)))) |
                                       (1 + 2 * (run & 1)) << (6 - 2 * (pos % 4)));
        expect_same_decode(make_record(64, dom, {0xA5, 0x5A}), false, 3, "one significant");
    }
}

}  // namespace
