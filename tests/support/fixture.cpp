#include "tests/support/fixture.h"

#include "encoder/qvk_tile_encode.h"
#include "store/qvk_writer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "store/data_set.h"

namespace fs = std::filesystem;

namespace {

void put_i32(Bytes& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

}  // namespace

std::string make_temp_dir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void remove_tree(const std::string& dir) {
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes raw_image_bytes(uint8_t id, int32_t a, int32_t b, const Bytes& payload) {
    Bytes out{id};
    put_i32(out, a);
    put_i32(out, b);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes raw_rgb_image(int w, int h, uint32_t (*rgb)(int, int, int), int param) {
    Bytes payload;
    payload.reserve(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = rgb(x, y, param);
            payload.push_back(uint8_t(c >> 16));
            payload.push_back(uint8_t(c >> 8));
            payload.push_back(uint8_t(c));
        }
    return raw_image_bytes(2, w, h, payload);
}

Bytes tile_header_bytes(const TileHeaderFields& h) {
    Bytes out{0, 0, 0, h.compressed};
    put_i32(out, h.merged_w);
    put_i32(out, h.merged_h);
    put_i32(out, h.tiles_x);
    put_i32(out, h.tiles_y);
    out.push_back(h.max_passes);
    out.insert(out.end(), {0, 0, 0});
    return out;
}

Bytes tile_record(uint8_t threshold, const Bytes& dominant, const Bytes& subordinate) {
    Bytes out{threshold};
    put_i32(out, int32_t(dominant.size()));
    put_i32(out, int32_t(subordinate.size()));
    out.insert(out.end(), dominant.begin(), dominant.end());
    out.insert(out.end(), subordinate.begin(), subordinate.end());
    return out;
}

Bytes minimal_tile_file(int level) {
    const int32_t size = level_merged_size(level);
    TileHeaderFields h;
    h.merged_w = h.merged_h = size;
    h.tiles_x = h.tiles_y = size / 64;
    Bytes out = tile_header_bytes(h);
    const size_t records = size_t(h.tiles_x) * h.tiles_y;
    out.resize(out.size() + records * kRecordHeaderSize, 0);
    return out;
}

uint32_t fixture_base_rgb(int x, int y, int sub) {
    // A diagonal gradient per sub-image, a 64-pixel checker in blue and a dark grid line every
    // 128 pixels, so that position, orientation and sampling are all visible in a screenshot.
    const uint32_t r = uint32_t((x / 4 + sub * 29) & 255);
    const uint32_t g = uint32_t((y / 4 + (x * y) / 4096) & 255);
    uint32_t b = uint32_t((((x >> 6) + (y >> 6)) & 1) * 160 + sub * 12);
    if (x % 128 == 0 || y % 128 == 0) return 0x202020;
    return r << 16 | g << 8 | (b & 255);
}

uint32_t fixture_minimap_rgb(int x, int y, int) {
    const int sub = (x / 64) + 4 * (y / 64);
    return fixture_base_rgb((x % 64) * 16, (y % 64) * 16, sub);
}

void write_fixture_data_set(const std::string& dir) {
    const std::string data = dir + "/ezw_data";
    fs::create_directories(data);
    write_file(data + "/minimap.pzd", raw_rgb_image(256, 128, fixture_minimap_rgb, 0));
    Bytes tiles[6];
    for (int level = 2; level <= 5; ++level) tiles[level] = minimal_tile_file(level);
    for (int s = 0; s < kSubImages; ++s) {
        write_file(data + "/" + base_tex_name(s), raw_rgb_image(1024, 1024, fixture_base_rgb, s));
        for (int level = 2; level <= 5; ++level)
            for (char c : {'R', 'G', 'B'})
                write_file(data + "/" + tile_file_name(s, level, c), tiles[level]);
    }
}

void truncate_file(const std::string& path, int64_t new_len) {
    fs::resize_file(path, uintmax_t(new_len));
}

void patch_file(const std::string& path, int64_t offset, const Bytes& bytes) {
    Bytes all = read_file(path);
    if (all.size() < size_t(offset) + bytes.size()) all.resize(size_t(offset) + bytes.size());
    std::copy(bytes.begin(), bytes.end(), all.begin() + offset);
    write_file(path, all);
}

void append_file(const std::string& path, const Bytes& bytes) {
    Bytes all = read_file(path);
    all.insert(all.end(), bytes.begin(), bytes.end());
    write_file(path, all);
}

uint32_t fixture_picture_rgb(uint32_t x, uint32_t y) {
    // Smooth ramps with a fine checker, so that both the place and the level of a pixel show.
    const uint32_t r = (x / 7) & 255, g = (y / 5) & 255, b = ((x / 64 + y / 64) & 1) ? 200 : 40;
    return r << 16 | g << 8 | b;
}

void write_fixture_picture(const std::string& path, uint32_t w, uint32_t h, int tile,
                           QvkCoder coder, int quality) {
    QvkWriter writer;
    std::string error;
    if (!writer.begin(path, w, h, coder, uint32_t(quality), error, tile))
        throw std::runtime_error(error);
    const QvkHeader& hd = writer.header();
    const uint32_t T = uint32_t(tile);
    std::vector<uint8_t> rgb(size_t(T) * T * 3), coded;
    for (int l = 1; l <= hd.levels; ++l) {
        const QvkLevel& lv = hd.level[l];
        const int shift = hd.levels - l;
        for (uint32_t ty = 0; ty < lv.tiles_y; ++ty)
            for (uint32_t tx = 0; tx < lv.tiles_x; ++tx) {
                const int tw = int(std::min<uint32_t>(T, lv.width - tx * T));
                const int th = int(std::min<uint32_t>(T, lv.height - ty * T));
                for (int y = 0; y < th; ++y)
                    for (int x = 0; x < tw; ++x) {
                        const uint32_t p =
                            fixture_picture_rgb((tx * T + x) << shift, (ty * T + y) << shift);
                        uint8_t* d = &rgb[size_t(y * tw + x) * 3];
                        d[0] = uint8_t(p >> 16), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p);
                    }
                encode_qvk_tile(uint32_t(coder), quality, rgb.data(), size_t(tw) * 3, tile, tw, th,
                                coded);
                if (!writer.add_tile(l, tx, ty, coded.data(), coded.size(), error))
                    throw std::runtime_error(error);
            }
    }
    if (!writer.finish(error)) throw std::runtime_error(error);
}
