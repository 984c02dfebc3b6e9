// Raw image files: reading (progress lines, both IDs, every malformed header and size) and packing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "store/raw_image.h"
#include "tests/store/console_capture.h"
#include "tests/support/fixture.h"

namespace {

class RawImageFiles : public ::testing::Test {
  protected:
    void SetUp() override { dir_ = make_temp_dir("quorvik-raw"); }
    void TearDown() override {
        free_raw_image(image_);
        remove_tree(dir_);
    }
    std::string put(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_ + "/" + name;
        write_file(path, bytes);
        return path;
    }
    // Reads `path` and returns success; `out` and `err` get the two streams' text.
    bool read(const std::string& path, std::string* out = nullptr, std::string* err = nullptr) {
        ::testing::internal::CaptureStderr();
        ConsoleCapture console;
        const bool ok = RAWIO::raw_in(path.c_str(), image_);
        if (out) *out = console.text();
        const std::string e = ::testing::internal::GetCapturedStderr();
        if (err) *err = e;
        return ok;
    }

    std::string dir_;
    RawImage image_;
};

TEST_F(RawImageFiles, ReadsAPixelImage) {
    const Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const std::string path = put("small.pzd", raw_image_bytes(2, 3, 2, payload));
    std::string out, err;
    ASSERT_TRUE(read(path, &out, &err)) << err;
    EXPECT_EQ(out, "rawin filename = " + path + "\nraw image is 3 x 2\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(image_.id, 2);
    EXPECT_EQ(image_.bpp, 3);
    EXPECT_EQ(image_.w, 3);
    EXPECT_EQ(image_.h, 2);
    EXPECT_EQ(image_.stride, 9);
    ASSERT_NE(image_.data, nullptr);
    EXPECT_EQ(memcmp(image_.data, payload.data(), payload.size()), 0);
}

TEST_F(RawImageFiles, ReadsAStreamPairWithoutInterpretingIt) {
    Bytes payload(16);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(0xF0 + i);
    const std::string path = put("pair.pzd", raw_image_bytes(4, 10, 6, payload));
    std::string out;
    ASSERT_TRUE(read(path, &out));
    EXPECT_EQ(out, "rawin filename = " + path + "\nezw has dom-len 10 and sub-len 6\n");
    EXPECT_EQ(image_.id, 4);
    EXPECT_EQ(image_.w, 10);
    EXPECT_EQ(image_.h, 6);
    EXPECT_EQ(image_.bpp, 3);
    EXPECT_EQ(image_.stride, 30);
    ASSERT_NE(image_.data, nullptr);
    EXPECT_EQ(memcmp(image_.data, payload.data(), 16), 0);
}

TEST_F(RawImageFiles, UnknownIdFailsWithoutAllocating) {
    const std::string path = put("three.pzd", raw_image_bytes(3, 1, 1, {0, 0, 0}));
    std::string err;
    EXPECT_FALSE(read(path, nullptr, &err));
    EXPECT_EQ(err, "unknown file ID\n");
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(RawImageFiles, MissingFileNamesItAfterTheProgressLine) {
    const std::string path = dir_ + "/absent.pzd";
    ::testing::internal::CaptureStderr();
    // Both streams into one, to see their order.
    FILE* saved = console_out;
    console_out = stderr;
    const bool ok = RAWIO::raw_in(path.c_str(), image_);
    console_out = saved;
    const std::string both = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_EQ(both, "rawin filename = " + path + "\ncould not open file " + path + "\n");
    EXPECT_EQ(image_.data, nullptr);
}

TEST_F(RawImageFiles, FolderInPlaceOfAFileCannotBeOpened) {
    const std::string path = dir_ + "/folder.pzd";
    std::filesystem::create_directory(path);
    std::string err;
    EXPECT_FALSE(read(path, nullptr, &err));
    EXPECT_EQ(err, path + ": not a regular file\ncould not open file " + path + "\n");
    EXPECT_EQ(image_.data, nullptr);
}

// Every malformed file fails, leaves no buffer behind and says on stderr what is wrong; the
// in-memory parser used by the tools agrees with the file reader.
TEST_F(RawImageFiles, MalformedFilesAreRejected) {
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"payload one byte short", raw_image_bytes(2, 3, 2, Bytes(17))},
        {"payload one byte long", raw_image_bytes(2, 3, 2, Bytes(19))},
        {"no payload at all", raw_image_bytes(2, 3, 2, {})},
        {"zero width", raw_image_bytes(2, 0, 2, {})},
        {"zero height", raw_image_bytes(2, 3, 0, {})},
        {"negative height", raw_image_bytes(2, 3, -2, Bytes(18))},
        {"negative width and height", raw_image_bytes(2, -3, -2, Bytes(18))},
        // 65536 x 65536 x 3 is 3 * 2^32: zero in 32 bits, so a 9-byte file would "match".
        {"size wrapping 32 bits to zero", raw_image_bytes(2, 65536, 65536, {})},
        // 0x55555556 * 3 = 2^32 + 2: two bytes in 32 bits.
        {"size wrapping 32 bits to two", raw_image_bytes(2, 0x55555556, 1, {1, 2})},
        {"huge stream pair", raw_image_bytes(4, 0x7fffffff, 0x7fffffff, {})},
        {"negative stream length", raw_image_bytes(4, -1, 6, Bytes(5))},
        {"stream pair short", raw_image_bytes(4, 10, 6, Bytes(15))},
        {"header cut inside the height", Bytes{2, 3, 0, 0, 0, 2, 0}},
        {"ID byte only", Bytes{2}},
        {"empty file", Bytes{}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = put("bad" + std::to_string(n++) + ".pzd", c.bytes);
        std::string err;
        EXPECT_FALSE(read(path, nullptr, &err));
        EXPECT_EQ(image_.data, nullptr);
        EXPECT_FALSE(err.empty());
        free_raw_image(image_);

        RawImage parsed;
        std::string why;
        EXPECT_NE(parse_raw_image(c.bytes.data(), c.bytes.size(), parsed, why), RawCheck::ok);
        EXPECT_EQ(parsed.data, nullptr);
        EXPECT_FALSE(why.empty());
        free_raw_image(parsed);
    }
}

TEST_F(RawImageFiles, ShortPayloadMessageNamesTheFile) {
    const std::string path = put("short.pzd", raw_image_bytes(2, 3, 2, Bytes(10)));
    std::string err;
    EXPECT_FALSE(read(path, nullptr, &err));
    EXPECT_EQ(err.rfind(path + ": ", 0), 0u) << err;
}

TEST(RawImageParse, AcceptsWhatTheReaderAccepts) {
    const Bytes file = raw_image_bytes(2, 2, 1, {10, 20, 30, 40, 50, 60});
    RawImage image;
    std::string why;
    ASSERT_EQ(parse_raw_image(file.data(), file.size(), image, why), RawCheck::ok) << why;
    EXPECT_EQ(image.w, 2);
    EXPECT_EQ(image.h, 1);
    EXPECT_EQ(image.stride, 6);
    EXPECT_EQ(image.data[5], 60);
    free_raw_image(image);
    EXPECT_EQ(image.data, nullptr);

    // An empty stream pair is a valid ID 4 file.
    const Bytes empty_pair = raw_image_bytes(4, 0, 0, {});
    ASSERT_EQ(parse_raw_image(empty_pair.data(), empty_pair.size(), image, why), RawCheck::ok);
    free_raw_image(image);
}

TEST(PackPixels, PacksRedGreenBlueIntoOneWord) {
    // 2 x 2 source with 3-byte pixels and one spare byte at the end of each row.
    uint8_t src_bytes[] = {200, 100, 50, 1,   2,   3,   0xEE,  //
                           0,   0,   0,  255, 255, 255, 0xEE};
    RawImage src;
    src.bpp = 3;
    src.w = 2;
    src.h = 2;
    src.stride = 7;
    src.data = src_bytes;
    uint32_t packed[4] = {0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
    RawImage dst;
    dst.data = reinterpret_cast<uint8_t*>(packed);
    pack_pixels(src, dst);
    EXPECT_EQ(packed[0], (200u << 16) | (100u << 8) | 50u);
    EXPECT_EQ(packed[1], 0x010203u);
    EXPECT_EQ(packed[2], 0u);
    EXPECT_EQ(packed[3], 0x00FFFFFFu);
    EXPECT_EQ(dst.w, 2);
    EXPECT_EQ(dst.h, 2);
    EXPECT_EQ(dst.bpp, 4);
    EXPECT_EQ(dst.stride, 8);
}

TEST(PackPixels, ReadsOnlyTheFirstThreeBytesOfWiderPixels) {
    uint8_t src_bytes[] = {9, 8, 7, 0xFF, 6, 5, 4, 0xFF};
    RawImage src;
    src.bpp = 4;
    src.w = 2;
    src.h = 1;
    src.stride = 8;
    src.data = src_bytes;
    uint32_t packed[2] = {};
    RawImage dst;
    dst.data = reinterpret_cast<uint8_t*>(packed);
    pack_pixels(src, dst);
    EXPECT_EQ(packed[0], 0x090807u);
    EXPECT_EQ(packed[1], 0x060504u);
}

}  // namespace
