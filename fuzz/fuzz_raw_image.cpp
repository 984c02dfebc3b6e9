// Fuzz target: one raw image file (.pzd) held in memory.
//
// Besides "no crash, no out-of-bounds access", it checks what the loader relies on: a rejected
// file leaves no buffer behind and says why; an accepted one holds exactly 9 + payload bytes and
// packs into 0x00RRGGBB words that match its bytes; and the header-only check that the file reader
// runs on the first 9 bytes reaches the same verdict as the whole-file parser.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "store/raw_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RawImage image;
    std::string why;
    const RawCheck parsed = parse_raw_image(data, size, image, why);

    // The file reader sees only the first 9 bytes and the file's length.
    RawHeader header;
    std::string header_why;
    const size_t head = size < size_t(kRawHeaderSize) ? size : size_t(kRawHeaderSize);
    const RawCheck checked = check_raw_header(data, head, int64_t(size), header, header_why);
    FUZZ_CHECK(checked == parsed);

    if (parsed != RawCheck::ok) {
        FUZZ_CHECK(image.data == nullptr);
        FUZZ_CHECK(!why.empty());
        return 0;
    }

    FUZZ_CHECK(image.data != nullptr);
    FUZZ_CHECK(image.id == 2 || image.id == 4);
    FUZZ_CHECK(image.bpp == 3);
    FUZZ_CHECK(header.payload_len == int64_t(size) - kRawHeaderSize);
    FUZZ_CHECK(image.w == header.a && image.h == header.b);
    if (image.id == 2) {
        FUZZ_CHECK(image.w > 0 && image.h > 0);
        FUZZ_CHECK(int64_t(image.w) * image.h * 3 == header.payload_len);
        FUZZ_CHECK(image.stride == 3 * image.w);
        RawImage packed;
        packed.data = static_cast<uint8_t*>(malloc(size_t(image.w) * size_t(image.h) * 4));
        FUZZ_CHECK(packed.data != nullptr);
        pack_pixels(image, packed);
        FUZZ_CHECK(packed.w == image.w && packed.h == image.h && packed.stride == 4 * image.w);
        const uint32_t* words = reinterpret_cast<const uint32_t*>(packed.data);
        const size_t pixels = size_t(image.w) * size_t(image.h);
        for (size_t i : {size_t(0), pixels / 2, pixels - 1}) {
            const uint8_t* p = data + kRawHeaderSize + 3 * i;
            FUZZ_CHECK(words[i] == (uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]));
        }
        free_raw_image(packed);
    } else {
        FUZZ_CHECK(image.w >= 0 && image.h >= 0);
        FUZZ_CHECK(int64_t(image.w) + image.h == header.payload_len);
    }
    if (header.payload_len > 0)
        FUZZ_CHECK(memcmp(image.data, data + kRawHeaderSize, size_t(header.payload_len)) == 0);
    free_raw_image(image);
    return 0;
}
