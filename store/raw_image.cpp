#include "store/raw_image.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "store/log.h"
#include "store/tile_file.h"

namespace {

// Largest payload accepted: every consumer indexes pixels with 32-bit ints, and a packed copy of
// an ID 2 image needs w * h * 4 bytes.
constexpr int64_t kMaxPixels = int64_t(1) << 28;
constexpr int64_t kMaxStreamPayload = 0x7fffffff;

std::string format(const char* fmt, long long a, long long b = 0, long long c = 0) {
    char line[160];
    snprintf(line, sizeof line, fmt, a, b, c);
    return line;
}

}  // namespace

RawCheck check_raw_header(const uint8_t* bytes, size_t len, int64_t file_len, RawHeader& out,
                          std::string& why) {
    if (len < 1 || file_len < 1) {
        why = "the file is empty";
        return RawCheck::bad_header;
    }
    out.id = bytes[0];
    if (out.id != 2 && out.id != 4) {
        why = "unknown file ID";
        return RawCheck::unknown_id;
    }
    if (len < size_t(kRawHeaderSize) || file_len < kRawHeaderSize) {
        why = format("the header is cut short (%lld of 9 bytes)",
                     file_len < int64_t(len) ? file_len : int64_t(len));
        return RawCheck::bad_header;
    }
    out.a = read_i32le(bytes + 1);
    out.b = read_i32le(bytes + 5);
    if (out.id == 2) {
        if (out.a <= 0 || out.b <= 0) {
            why = format("width and height must be positive (got %lld x %lld)", out.a, out.b);
            return RawCheck::bad_header;
        }
        const int64_t pixels = int64_t(out.a) * int64_t(out.b);
        if (pixels > kMaxPixels) {
            why = format("image of %lld x %lld pixels is too large", out.a, out.b);
            return RawCheck::bad_header;
        }
        out.payload_len = pixels * 3;
    } else {
        if (out.a < 0 || out.b < 0) {
            why = format("stream lengths must not be negative (got %lld and %lld)", out.a, out.b);
            return RawCheck::bad_header;
        }
        out.payload_len = int64_t(out.a) + int64_t(out.b);
        if (out.payload_len > kMaxStreamPayload) {
            why = "stream pair is too large";
            return RawCheck::bad_header;
        }
    }
    if (file_len != kRawHeaderSize + out.payload_len) {
        why = format("the file holds %lld bytes, but its header announces %lld", file_len,
                     kRawHeaderSize + out.payload_len);
        return RawCheck::bad_length;
    }
    return RawCheck::ok;
}

RawCheck parse_raw_image(const uint8_t* bytes, size_t len, RawImage& image, std::string& why) {
    RawHeader hdr;
    const RawCheck check = check_raw_header(bytes, len, int64_t(len), hdr, why);
    if (check != RawCheck::ok) return check;
    uint8_t* data =
        static_cast<uint8_t*>(malloc(size_t(hdr.payload_len > 0 ? hdr.payload_len : 1)));
    if (!data) {
        why = "out of memory";
        return RawCheck::bad_header;
    }
    memcpy(data, bytes + kRawHeaderSize, size_t(hdr.payload_len));
    image.id = hdr.id;
    image.w = hdr.a;
    image.h = hdr.b;
    image.bpp = 3;
    image.stride = 3 * hdr.a;
    image.data = data;
    return RawCheck::ok;
}

FILE* open_regular_file(const char* filename, std::string& detail) {
    FILE* f = fopen(filename, "rb");
    if (!f) return nullptr;
    // A directory opens for reading on this platform but has no length or bytes to give.
    struct stat st;
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        detail += std::string(filename) + ": not a regular file\n";
        fclose(f);
        return nullptr;
    }
    return f;
}

bool read_raw_image(const char* filename, RawImage& image, std::string& detail) {
    fprintf(console_out, "rawin filename = %s\n", filename);
    FILE* f = open_regular_file(filename, detail);
    if (!f) {
        detail += std::string("could not open file ") + filename + "\n";
        return false;
    }
    int64_t file_len = -1;
    if (fseek(f, 0, SEEK_END) == 0) file_len = ftell(f);
    rewind(f);

    uint8_t header[kRawHeaderSize] = {0};
    const size_t got = fread(header, 1, kRawHeaderSize, f);
    RawHeader hdr;
    std::string why;
    RawCheck check = check_raw_header(header, got, file_len, hdr, why);
    if (check == RawCheck::unknown_id) {
        detail += "unknown file ID\n";
        fclose(f);
        return false;
    }
    if (got >= size_t(kRawHeaderSize)) {
        image.id = hdr.id;
        image.w = hdr.a;
        image.h = hdr.b;
        if (hdr.id == 2)
            fprintf(console_out, "raw image is %d x %d\n", hdr.a, hdr.b);
        else
            fprintf(console_out, "ezw has dom-len %d and sub-len %d\n", hdr.a, hdr.b);
    }
    if (check != RawCheck::ok) {
        detail += std::string(filename) + ": " + why + "\n";
        fclose(f);
        return false;
    }
    uint8_t* data =
        static_cast<uint8_t*>(malloc(size_t(hdr.payload_len > 0 ? hdr.payload_len : 1)));
    if (!data) {
        detail +=
            hdr.id == 2 ? "RAWIO::raw_in() PRD: out of mem\n" : "RAWIO::raw_in() PDS: out of mem\n";
        fclose(f);
        return false;
    }
    const size_t read = fread(data, 1, size_t(hdr.payload_len), f);
    fclose(f);
    if (int64_t(read) != hdr.payload_len) {
        char line[200];
        snprintf(line, sizeof line, "%s: the file ended after %lld of %lld payload bytes\n",
                 filename, (long long)read, (long long)hdr.payload_len);
        detail += line;
        free(data);
        return false;
    }
    image.data = data;
    image.bpp = 3;
    image.stride = 3 * image.w;
    return true;
}

namespace RAWIO {

bool raw_in(const char* filename, RawImage& image) {
    std::string detail;
    const bool ok = read_raw_image(filename, image, detail);
    fputs(detail.c_str(), stderr);
    return ok;
}

}  // namespace RAWIO

void pack_pixels(const RawImage& source, RawImage& target) {
    target.w = source.w;
    target.h = source.h;
    target.bpp = 4;
    target.stride = 4 * source.w;
    uint32_t* out = reinterpret_cast<uint32_t*>(target.data);
    for (int y = 0; y < source.h; ++y) {
        const uint8_t* row = source.data + size_t(y) * source.stride;
        uint32_t* dst = out + size_t(y) * source.w;
        for (int x = 0; x < source.w; ++x) {
            const uint8_t* p = row + size_t(x) * source.bpp;
            dst[x] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
        }
    }
}

void free_raw_image(RawImage& image) {
    free(image.data);
    image.data = nullptr;
}
