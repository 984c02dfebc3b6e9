#include "builder/qvk_verify.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "builder/parallel.h"
#include "decoder/qvk_tile.h"
#include "store/qvk_file.h"

namespace builder {
namespace {

constexpr int kShownDamage = 20;
// Tiles checked per round: their faults are kept and printed in tile order, a round at a time.
constexpr int64_t kRound = 16384;

}  // namespace

bool is_qvk_path(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".qvk") == 0;
}

bool verify_qvk(const std::string& path, int threads, FILE* out, std::string& open_error) {
    std::unique_ptr<QvkFile> file = QvkFile::open(path, open_error);
    if (!file) return false;
    const QvkHeader& h = file->header();
    Pool pool(threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency())));

    int64_t damaged = 0;
    std::vector<int64_t> level_bytes(size_t(h.levels) + 1, 0);
    for (int l = 1; l <= h.levels; ++l) {
        const QvkLevel& v = file->level(l);
        if (!v.stored()) continue;  // its pixels are the stored level's tiles, checked there
        const int64_t tiles = int64_t(v.tiles_x) * v.tiles_y;
        for (int64_t t0 = 0; t0 < tiles; t0 += kRound) {
            const int64_t n = std::min(kRound, tiles - t0);
            std::vector<std::string> why(static_cast<size_t>(n));
            std::vector<int64_t> bytes(size_t(n), 0);
            pool.run(n, [&](int64_t i) {
                const int64_t t = t0 + i;
                const uint32_t tx = uint32_t(t % v.tiles_x), ty = uint32_t(t / v.tiles_x);
                const uint32_t T = uint32_t(h.tile_size);
                const int w = int(std::min<uint64_t>(T, v.width - uint64_t(tx) * T));
                const int th = int(std::min<uint64_t>(T, v.height - uint64_t(ty) * T));
                std::vector<uint8_t> coded;
                std::string& fault = why[size_t(i)];
                if (!file->read_tile(l, tx, ty, coded, fault)) return;
                bytes[size_t(i)] = int64_t(coded.size());
                std::vector<uint8_t> px(size_t(T) * T * 4);
                if (!decode_qvk_tile(h.coder, coded.data(), coded.size(), int(T), w, th, px.data(),
                                     size_t(T) * 4))
                    fault = "does not decode";
            });
            for (int64_t i = 0; i < n; ++i) {
                level_bytes[size_t(l)] += bytes[size_t(i)];
                if (why[size_t(i)].empty()) continue;
                if (++damaged <= kShownDamage) {
                    const int64_t t = t0 + i;
                    fprintf(out, "%s: tile %d/%lld,%lld: %s\n", path.c_str(), l,
                            (long long)(t % v.tiles_x), (long long)(t / v.tiles_x),
                            why[size_t(i)].c_str());
                }
            }
        }
    }
    if (damaged > kShownDamage)
        fprintf(out, "%s: %lld more damaged tile(s)\n", path.c_str(),
                (long long)(damaged - kShownDamage));

    fprintf(out, "level  size               tiles       bytes           bits/pixel\n");
    uint64_t tiles_total = 0;
    for (int l = 1; l <= h.levels; ++l) {
        const QvkLevel& v = file->level(l);
        const std::string size = std::to_string(v.width) + " x " + std::to_string(v.height);
        if (!v.stored()) {
            fprintf(out, "%-6d %-18s derived from level %d\n", l, size.c_str(), l + v.reduce);
            continue;
        }
        const uint64_t tiles = uint64_t(v.tiles_x) * v.tiles_y;
        tiles_total += tiles;
        fprintf(out, "%-6d %-18s %-11llu %-15lld %.3f\n", l, size.c_str(),
                (unsigned long long)tiles, (long long)level_bytes[size_t(l)],
                8.0 * double(level_bytes[size_t(l)]) / (double(v.width) * double(v.height)));
    }
    fprintf(out, "%d level(s), %llu tiles, %llu bytes (coder %u, quality %u)\n", h.levels,
            (unsigned long long)tiles_total, (unsigned long long)h.file_length, h.coder,
            h.coder_param);
    if (damaged == 0)
        fprintf(out, "OK: the picture is sound and every tile decodes\n");
    else
        fprintf(out, "FAILED: %lld damaged tile(s)\n", (long long)damaged);
    return damaged == 0;
}

}  // namespace builder
