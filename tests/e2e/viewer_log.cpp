#include "tests/e2e/viewer_log.h"

#include <cstdio>
#include <filesystem>

namespace e2e {

std::string without_toolkit_noise(const std::string& text) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        const std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
        pos = end == std::string::npos ? text.size() : end + 1;
        const bool toolkit =
            line.rfind("(quorvik:", 0) == 0 && line.find(" **: ") != std::string::npos;
        if (toolkit) {
            if (!out.empty() && out.back() == '\n' &&
                (out.size() == 1 || out[out.size() - 2] == '\n'))
                out.pop_back();
            continue;
        }
        out += line;
    }
    return out;
}

std::string split_banner(const std::string& out, std::string& rest) {
    const size_t nl = out.find('\n');
    if (nl == std::string::npos) {
        rest.clear();
        return out;
    }
    rest = out.substr(nl + 1);
    return out.substr(0, nl);
}

std::string filenames_line(int sub, int level, const std::string& folder) {
    return "filenames: " + data_path(folder, tile_file_name(sub, level, 'R')) + " " +
           data_path(folder, tile_file_name(sub, level, 'G')) + " " +
           data_path(folder, tile_file_name(sub, level, 'B')) + "\n";
}

namespace {

// What loading one residual level prints, with the R file's length taken from the data set.
std::string level_lines(const std::string& data_dir, int sub, int level) {
    const auto len = std::filesystem::file_size(data_dir + "/" + tile_file_name(sub, level, 'R'));
    return "successfully opened the 3 files for reading\n"
           "file_lenR = " +
           std::to_string(len) + "\nfile_lenR without header = " + std::to_string(len - 24) +
           "\nheadersize type = 24\n"
           "reading in compressed tile-data\n"
           "read compressed tile-data\n";
}

}  // namespace

std::string expected_log(const std::string& data_dir, const std::string& folder) {
    std::string log = "RESIZED: desired: 512 512  actually: 512 512\n";
    log += "rawin filename = " + data_path(folder, "minimap.pzd") + "\nraw image is 256 x 128\n";
    log += "successfully loaded minimap\n";
    for (int i = 0; i < kSubImages; ++i) {
        log += "\n\n" + filenames_line(i, 2, folder) + level_lines(data_dir, i, 2);
        log += "\n\nresiduals_level[0][1].R->header.merged_w=2048\n";
        for (int level = 3; level <= 5; ++level)
            log += filenames_line(i, level, folder) + level_lines(data_dir, i, level);
        log += "rawin filename = " + data_path(folder, base_tex_name(i)) + "\n";
        log += "raw image is 1024 x 1024\n\n\n";
    }
    log += "loaded ezw files successfully\n";
    log += "rearrange bits for faster rendering\nrearranged bits for faster rendering\n";
    return log;
}

bool last_ipos(const std::string& out, float& x, float& y, float& z) {
    const size_t at = out.rfind("ipos = ");
    return at != std::string::npos &&
           sscanf(out.c_str() + at, "ipos = %g, %g, %g", &x, &y, &z) == 3;
}

bool read_camera(Session& s, float& x, float& y, float& z) {
    sleep_ms(300);
    const size_t before = s.out().size();
    s.key("p", 150);
    for (int waited = 0; waited < 5000; waited += 50) {
        const std::string out = s.out();
        if (out.size() > before && out.find("ipos = ", before) != std::string::npos &&
            out.find("ifor = ", out.rfind("ipos = ")) != std::string::npos)
            return last_ipos(out, x, y, z);
        sleep_ms(50);
    }
    return false;
}

bool read_settled_camera(Session& s, float& x, float& y, float& z, int timeout_ms) {
    float px, py, pz;
    if (!read_camera(s, px, py, pz)) return false;
    for (int waited = 0; waited < timeout_ms; waited += 800) {
        sleep_ms(300);
        if (!read_camera(s, x, y, z)) return false;
        if (x == px && y == py && z == pz) return true;
        px = x, py = y, pz = z;
    }
    return false;
}

}  // namespace e2e
