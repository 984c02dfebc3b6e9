// The rate-distortion harness's measuring program (bench/rd.sh runs it).
//
//   quorvik-rd-measure SOURCE DECODED [--tile T] [--skip-grid G]
//     DECODED is an image file (any format libvips reads: what another codec's decoder wrote)
//     or a .qvk file, whose finest level is decoded from its own stored tiles. Prints one
//     tab-separated line: RGB PSNR in dB (inf when equal), the mean error step across tile
//     borders and across tile middles in smooth areas (bench/rd_compare.h; nan where the grid
//     has no smooth step of that kind), on a grid of
//     T-pixel tiles (default: a .qvk file's stored tile size, else 64, the folder form's tile).
//     A .qvk file is measured as the viewer shows it: its tiles' borders smoothed. --skip-grid G
//     (0: none) leaves out the steps at multiples of G, the source's own grid (the photo mosaic's
//     cells).
//
//   quorvik-rd-measure --write-world OUT.ppm [--seed N]
//     Writes sub-image A1 of the folder form's procedural world, the picture that
//     `quorvik-tool build --subimages 1` codes, as a binary PPM, so that every other coder can
//     be given the same pixels.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/rd_compare.h"
#include "builder/row_source.h"
#include "store/qvk_file.h"

namespace {

// Sub-image A1 is the top-left 16384 x 16384 of the folder form's finest level (65536 x 32768).
// The streamed world takes the first level at least as large as asked for, so one row more than
// the level below has (16384) selects the finest, and that row is never read.
constexpr uint32_t kA1Side = 16384;

int usage() {
    fprintf(stderr,
            "usage: quorvik-rd-measure SOURCE DECODED [--tile T] [--skip-grid G]\n"
            "       quorvik-rd-measure --write-world OUT.ppm [--seed N]\n");
    return 2;
}

// A whole decimal number in [lo, hi], or false.
bool parse_int(const char* text, long lo, long hi, long& v) {
    char* end = nullptr;
    v = strtol(text, &end, 10);
    return end != text && *end == '\0' && v >= lo && v <= hi;
}

int write_world(const std::string& out, uint64_t seed) {
    auto world = builder::make_world_rows(seed, kA1Side, kA1Side + 1);
    FILE* f = fopen(out.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "quorvik-rd-measure: cannot write %s\n", out.c_str());
        return 1;
    }
    bool ok = fprintf(f, "P6\n%u %u\n255\n", kA1Side, kA1Side) > 0;
    constexpr uint32_t kStrip = 256;
    const size_t row = size_t(kA1Side) * 3;
    std::vector<uint8_t> strip(row * kStrip);
    for (uint32_t y = 0; ok && y < kA1Side; y += kStrip) {
        world->rows(y, kStrip, strip.data(), row);
        ok = fwrite(strip.data(), 1, strip.size(), f) == strip.size();
    }
    if (fclose(f) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "quorvik-rd-measure: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names;
    long tile = 0, seed = 1, skip_grid = 0;
    std::string world_out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--tile" && i + 1 < argc) {
            if (!parse_int(argv[++i], 4, 1 << 20, tile) || tile % 2 != 0) {
                fprintf(stderr, "quorvik-rd-measure: --tile takes an even number from 4 up\n");
                return 2;
            }
        } else if (a == "--skip-grid" && i + 1 < argc) {
            if (!parse_int(argv[++i], 0, 1 << 20, skip_grid)) return usage();
        } else if (a == "--write-world" && i + 1 < argc) {
            world_out = argv[++i];
        } else if (a == "--seed" && i + 1 < argc) {
            if (!parse_int(argv[++i], 0, 0x7fffffff, seed)) return usage();
        } else if (a.size() > 1 && a[0] == '-') {
            return usage();
        } else {
            names.push_back(a);
        }
    }
    try {
        if (!world_out.empty())
            return names.empty() ? write_world(world_out, uint64_t(seed)) : usage();
        if (names.size() != 2) return usage();
        auto source = builder::make_image_rows(names[0]);
        std::unique_ptr<builder::RowSource> decoded;
        int stored_tile = 64;
        if (is_qvk_path(names[1]))
            decoded = rd::open_qvk_rows(names[1], &stored_tile);
        else
            decoded = builder::make_image_rows(names[1]);
        rd::Comparison c;
        try {
            c = rd::compare(*source, *decoded, tile ? int(tile) : stored_tile, int(skip_grid));
        } catch (const std::invalid_argument& e) {
            fprintf(stderr, "quorvik-rd-measure: %s against %s: %s\n", names[1].c_str(),
                    names[0].c_str(), e.what());
            return 1;
        }
        const double psnr = c.psnr_db();
        if (std::isinf(psnr))
            printf("inf");
        else
            printf("%.4f", psnr);
        // A grid with no smooth step of one kind has no mean: nan, not a perfect 0.
        auto mean = [](double sum, int64_t pairs) {
            return pairs > 0 ? sum / double(pairs) : std::nan("");
        };
        printf("\t%.4f\t%.4f\n", mean(c.seams.border_sum, c.seams.border_pairs),
               mean(c.seams.middle_sum, c.seams.middle_pairs));
    } catch (const std::exception& e) {
        fprintf(stderr, "quorvik-rd-measure: %s\n", e.what());
        return 1;
    }
    return 0;
}
