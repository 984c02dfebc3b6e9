#include "tool/render_image.h"

#include <vips/vips8>

#include <cstdio>
#include <vector>

#include "app/frame_state.h"

namespace {

std::vector<unsigned char> frame_rgb() {
    std::vector<unsigned char> rgb(size_t(frame_width) * size_t(frame_height) * 3);
    unsigned char* p = rgb.data();
    const size_t n = size_t(frame_width) * size_t(frame_height);
    for (size_t i = 0; i < n; ++i, p += 3) {
        const uint32_t v = frame_buffer[i];
        p[0] = (unsigned char)(v >> 16);
        p[1] = (unsigned char)(v >> 8);
        p[2] = (unsigned char)v;
    }
    return rgb;
}

}  // namespace

bool write_frame_png(const std::string& path, std::string& why) {
    static const bool started = VIPS_INIT("quorvik-tool") == 0;
    if (!started) {
        why = vips_error_buffer();
        return false;
    }
    std::vector<unsigned char> rgb = frame_rgb();
    try {
        vips::VImage image = vips::VImage::new_from_memory(rgb.data(), rgb.size(), frame_width,
                                                           frame_height, 3, VIPS_FORMAT_UCHAR);
        image.pngsave(path.c_str());
    } catch (const vips::VError& e) {
        why = e.what();
        vips_error_clear();
        return false;
    }
    return true;
}

bool write_frame_ppm(const std::string& path, std::string& why) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        why = "cannot open for writing";
        return false;
    }
    const std::vector<unsigned char> rgb = frame_rgb();
    fprintf(f, "P6\n%d %d\n255\n", frame_width, frame_height);
    const bool ok = fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
    if (fclose(f) != 0 || !ok) {
        why = "write failed";
        return false;
    }
    return true;
}
