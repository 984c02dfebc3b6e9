#pragma once
// Raw image file (.pzd). All integers little-endian, no alignment, no trailer.
//
//   offset  size  field
//   0       1     file ID: 2 = raw RGB pixels, 4 = EZW stream pair
//   1       4     signed 32-bit: ID 2 width w;  ID 4 dominant stream length
//   5       4     signed 32-bit: ID 2 height h; ID 4 subordinate stream length
//   9       n     payload: ID 2 n = w * h * 3 (rows top first, bytes red, green, blue, no gaps);
//                          ID 4 n = dom-len + sub-len (read, never interpreted)
//
// Limits, checked before anything is allocated: both numbers > 0 for ID 2 (>= 0 for ID 4); the
// file holds exactly 9 + n bytes, with n computed in 64 bits so that no size wraps; n must fit the
// 31-bit range every later consumer indexes with.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// In-memory picture. Owns `data` (malloc'd); a record with null data holds nothing.
struct RawImage {
    uint8_t bpp = 0;     // bytes per pixel: 3 as read from a file, 4 packed
    uint8_t id = 0;      // file ID the image was read with
    int32_t w = 0;       // width (ID 4: dominant stream length)
    int32_t h = 0;       // height (ID 4: subordinate stream length)
    int32_t stride = 0;  // bytes from one row to the next
    uint8_t* data = nullptr;
};

constexpr int kRawHeaderSize = 9;

// Result of checking a raw image header against the file's total length.
struct RawHeader {
    uint8_t id = 0;
    int32_t a = 0;            // width or dom-len
    int32_t b = 0;            // height or sub-len
    int64_t payload_len = 0;  // bytes after the header the file must hold
};

enum class RawCheck {
    ok,
    unknown_id,  // neither 2 nor 4: "unknown file ID"
    bad_header,  // header cut short, sizes <= 0, or payload too large; `why` says which
    bad_length,  // the file is not exactly 9 + payload bytes long
};

// Checks the 9 header bytes in `bytes` (at least `len` of them available) against a file of
// `file_len` bytes. Pure: no I/O, no allocation; `why` receives a one-line description on failure.
RawCheck check_raw_header(const uint8_t* bytes, size_t len, int64_t file_len, RawHeader& out,
                          std::string& why);

// Parses a whole raw image file held in memory into `image` (allocating its data). Prints nothing.
// Used by fuzzers and tools; raw_in shares its checks.
RawCheck parse_raw_image(const uint8_t* bytes, size_t len, RawImage& image, std::string& why);

// fopen(filename, "rb") for a regular file; null for anything else, such as a directory in the
// data set's place, which is named in `detail` (one line, appended).
FILE* open_regular_file(const char* filename, std::string& detail);

// Reads the raw image file at `filename` into `image`, printing the reader's progress lines on
// console_out. On failure leaves no new buffer in `image` and appends to `detail` the lines (each
// ending in a line end) that say what is wrong: the viewer prints them on standard error.
bool read_raw_image(const char* filename, RawImage& image, std::string& detail);

namespace RAWIO {
// read_raw_image with the failure lines printed on standard error at once.
bool raw_in(const char* filename, RawImage& image);
}  // namespace RAWIO

// Packs the first three bytes of each source pixel into 0x00RRGGBB words in target.data, which
// the caller has allocated with w * h * 4 bytes; sets target's w, h, bpp 4 and stride 4 * w.
void pack_pixels(const RawImage& source, RawImage& target);

// Frees image.data (if any) and nulls it.
void free_raw_image(RawImage& image);
