#include "builder/verify.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "decoder/ezw_decode.h"
#include "store/data_set.h"
#include "store/raw_image.h"
#include "store/tile_file.h"
#include "builder/parallel.h"

namespace fs = std::filesystem;

namespace builder {
namespace {

bool read_bytes(const fs::path& path, std::vector<uint8_t>& out, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot open the file";
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff len = in.tellg();
    in.seekg(0);
    out.resize(size_t(len));
    if (!in.read(reinterpret_cast<char*>(out.data()), len)) {
        why = "cannot read the file";
        return false;
    }
    return true;
}

// A raw image file that must hold pixels, checked as the loader checks it.
bool check_pixel_file(const fs::path& path, int want_w, int want_h, std::string& why,
                      int64_t& bytes) {
    std::vector<uint8_t> data;
    if (!read_bytes(path, data, why)) return false;
    bytes = int64_t(data.size());
    RawImage image;
    const RawCheck check = parse_raw_image(data.data(), data.size(), image, why);
    if (check == RawCheck::unknown_id) {
        why = "unknown file ID";
        return false;
    }
    if (check != RawCheck::ok) return false;
    const bool pixels = image.id == 2;
    const int w = image.w, h = image.h;
    free_raw_image(image);
    if (!pixels) {
        why = "file ID 4 holds no pixel image";
        return false;
    }
    if (want_w > 0 && (w != want_w || h != want_h)) {
        why = "the picture is " + std::to_string(w) + " x " + std::to_string(h) + ", it must be " +
              std::to_string(want_w) + " x " + std::to_string(want_h);
        return false;
    }
    return true;
}

}  // namespace

bool verify_data_set(const std::string& dir_arg, const VerifyOptions& options, FILE* out) {
    fs::path dir(dir_arg);
    if (!fs::exists(dir / "minimap.pzd") && fs::is_directory(dir / "ezw_data"))
        dir = dir / "ezw_data";
    if (!fs::is_directory(dir)) {
        fprintf(out, "%s: no such folder\n", dir_arg.c_str());
        return false;
    }
    int problems = 0;
    auto fail = [&](const std::string& file, const std::string& why) {
        fprintf(out, "BAD  %s: %s\n", file.c_str(), why.c_str());
        ++problems;
    };

    int64_t level_bytes[6] = {0}, level_tiles[6] = {0}, level_short[6] = {0};
    std::string why;
    int64_t bytes = 0;
    if (!check_pixel_file(dir / "minimap.pzd", 0, 0, why, bytes)) fail("minimap.pzd", why);
    const int64_t minimap_bytes = bytes;
    for (int s = 0; s < kSubImages; ++s) {
        bytes = 0;
        if (!check_pixel_file(dir / base_tex_name(s), 1024, 1024, why, bytes))
            fail(base_tex_name(s), why);
        level_bytes[1] += bytes;
    }

    Pool pool(options.threads > 0 ? options.threads
                                  : std::max(1u, std::thread::hardware_concurrency()));
    std::mutex report_mu;
    for (int l = 2; l <= 5; ++l) {
        for (int s = 0; s < kSubImages; ++s) {
            for (char c : {'R', 'G', 'B'}) {
                const std::string name = tile_file_name(s, l, c);
                std::vector<uint8_t> data;
                if (!read_bytes(dir / name, data, why)) {
                    fail(name, why);
                    continue;
                }
                level_bytes[l] += int64_t(data.size());
                TileSet set;
                if (!parse_tile_file(data.data(), data.size(), l, set, why)) {
                    fail(name, why);
                    free(set.index);
                    free(set.data);
                    continue;
                }
                const int64_t tiles = int64_t(set.header.tiles_x) * set.header.tiles_y;
                if (c == 'R') level_tiles[l] += tiles;  // the three files share the tile grid
                if (options.decode) {
                    std::atomic<int64_t> bad{0};
                    std::vector<std::string> notes;
                    pool.run(tiles, [&](int64_t t) {
                        alignas(16) float plane[kTileCoeffs];
                        const int64_t off = set.index[t];
                        const DecodeStatus st = decode_channel_record(
                            set.data + off, size_t(set.data_len - off), set.header.compressed != 0,
                            set.header.max_passes, plane);
                        if (st != DecodeStatus::ok) {
                            ++bad;
                            std::lock_guard<std::mutex> lock(report_mu);
                            if (notes.size() < 5)
                                notes.push_back("tile " + std::to_string(t) + ": " +
                                                decode_status_name(st));
                        }
                    });
                    if (bad > 0) {
                        std::sort(notes.begin(), notes.end());
                        std::string text = std::to_string(bad.load()) +
                                           " tile(s) do not decode "
                                           "cleanly";
                        for (const auto& n : notes) text += "; " + n;
                        fail(name, text);
                        level_short[l] += bad;
                    }
                }
                free(set.index);
                free(set.data);
            }
        }
    }

    fprintf(out, "level  files  bytes           bits/pixel  tiles%s\n",
            options.decode ? "    short channel records" : "");
    for (int l = 1; l <= 5; ++l) {
        const int64_t side = int64_t(1024) << (l - 1);
        const double pixels = double(side) * side * kSubImages;
        fprintf(out, "%-6d %-6d %-15lld %-11.3f %-8lld", l, l == 1 ? 8 : 24,
                (long long)level_bytes[l], 8.0 * double(level_bytes[l]) / pixels,
                (long long)level_tiles[l]);
        if (options.decode) fprintf(out, " %lld", (long long)level_short[l]);
        fprintf(out, "\n");
    }
    int64_t total = minimap_bytes;
    for (int l = 1; l <= 5; ++l) total += level_bytes[l];
    fprintf(out, "minimap %lld bytes; total %lld bytes\n", (long long)minimap_bytes,
            (long long)total);
    if (problems == 0)
        fprintf(out, "OK: the data set is sound%s\n",
                options.decode ? " and every tile decodes" : "");
    else
        fprintf(out, "FAILED: %d problem(s)\n", problems);
    return problems == 0;
}

}  // namespace builder
