#include "tests/support/png_read.h"

#include <png.h>

bool read_png_pixels(const std::string& path, int& width, int& height,
                     std::vector<uint32_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
    width = int(image.width);
    height = int(image.height);
    pixels.resize(size_t(width) * size_t(height));
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint32_t(rgb[3 * i]) << 16 | uint32_t(rgb[3 * i + 1]) << 8 | rgb[3 * i + 2];
    return true;
}
