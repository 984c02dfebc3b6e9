#include "app/screenshot.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace {

// Alternatives tried after the plain name before giving up (one per saved frame in the second).
constexpr int kMaxAlternatives = 9999;

struct PngError {
    std::string text;
};

void on_png_error(png_structp png, png_const_charp message) {
    static_cast<PngError*>(png_get_error_ptr(png))->text = message;
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so this function holds no object with a destructor: the row
// buffer belongs to the caller.
bool write_png_rows(FILE* out, const uint32_t* pixels, int w, int h, unsigned char* row,
                    PngError& error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, on_png_error, on_png_warning);
    if (!png) {
        error.text = "out of memory";
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        if (error.text.empty()) error.text = "out of memory";
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_init_io(png, out);
    // The fastest deflate level, since the frame loop waits for the save: a busy 1920 x 1080
    // frame takes about 60 % of the time of level 3 and a quarter of libpng's default level 6.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        const uint32_t* src = pixels + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = (unsigned char)(src[x] >> 16);
            row[3 * x + 1] = (unsigned char)(src[x] >> 8);
            row[3 * x + 2] = (unsigned char)src[x];
        }
        png_write_row(png, row);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool write_png(FILE* out, const uint32_t* pixels, int w, int h, std::string& why) {
    if (!pixels || w <= 0 || h <= 0) {
        why = "no frame to save";
        return false;
    }
    std::vector<unsigned char> row(size_t(w) * 3);
    PngError error;
    if (!write_png_rows(out, pixels, w, h, row.data(), error)) {
        why = error.text;
        return false;
    }
    if (fflush(out) != 0 || ferror(out)) {
        why = strerror(errno);
        return false;
    }
    return true;
}

std::string screenshot_name(time_t when, int n) {
    tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = std::string("quorvik-") + stamp;
    if (n > 0) name += "-" + std::to_string(n);
    return name + ".png";
}

std::string save_screenshot(const std::string& folder, time_t when, const uint32_t* pixels, int w,
                            int h, std::string& why) {
    for (int n = 0; n <= kMaxAlternatives; ++n) {
        const std::string path = folder + "/" + screenshot_name(when, n);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            why = path + ": " + strerror(errno);
            return "";
        }
        FILE* out = fdopen(fd, "wb");
        if (!out) {
            why = path + ": " + strerror(errno);
            close(fd);
            unlink(path.c_str());
            return "";
        }
        std::string reason;
        const bool written = write_png(out, pixels, w, h, reason);
        const bool closed = fclose(out) == 0;
        if (!written || !closed) {
            why = path + ": " + (written ? std::string(strerror(errno)) : reason);
            unlink(path.c_str());
            return "";
        }
        return path;
    }
    why = "every name for this second is taken in " + folder;
    return "";
}
