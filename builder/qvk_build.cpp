// The one-file picture's writer over a row source (builder/qvk_build.h).
#include "builder/qvk_build.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "builder/builder.h"
#include "builder/parallel.h"
#include "builder/progress.h"
#include "builder/strip_reader.h"
#include "encoder/qvk_tile_encode.h"
#include "store/qvk_writer.h"

namespace builder {
namespace {

// Up to one tile row of a level, filled from the top.
struct Strip {
    uint32_t width = 0, height = 0;  // the level's
    uint32_t tile = 0;               // the stored tiles' side
    size_t stride = 0;
    std::vector<uint8_t> rgb;
    uint32_t y0 = 0;      // the level's row that the strip's first row is
    uint32_t filled = 0;  // rows held
    bool complete() const { return filled == tile || y0 + filled == height; }
};

// Halves columns [0, w) of rows [0, rows) of `src` into rows [0, ceil(rows / 2)) of `dst`: each
// pixel the rounded mean of a 2 x 2 block, the last column or row repeated where the block runs
// past an odd edge.
void halve(const uint8_t* src, size_t src_stride, uint32_t w, uint32_t rows, uint8_t* dst,
           size_t dst_stride) {
    const uint32_t pairs = w / 2;
    for (uint32_t oy = 0; 2 * oy < rows; ++oy) {
        const uint8_t* a = src + size_t(2 * oy) * src_stride;
        const uint8_t* b = 2 * oy + 1 < rows ? a + src_stride : a;
        uint8_t* out = dst + size_t(oy) * dst_stride;
        for (uint32_t i = 0; i < pairs * 3; i += 3) {
            const uint32_t j = 2 * i;
            out[i] = uint8_t((a[j] + a[j + 3] + b[j] + b[j + 3] + 2) >> 2);
            out[i + 1] = uint8_t((a[j + 1] + a[j + 4] + b[j + 1] + b[j + 4] + 2) >> 2);
            out[i + 2] = uint8_t((a[j + 2] + a[j + 5] + b[j + 2] + b[j + 5] + 2) >> 2);
        }
        if (w & 1) {
            const size_t i = size_t(pairs) * 3, j = 2 * i;
            for (size_t c = 0; c < 3; ++c)
                out[i + c] = uint8_t((2 * a[j + c] + 2 * b[j + c] + 2) >> 2);
        }
    }
}

class PyramidWriter {
  public:
    PyramidWriter(QvkWriter& writer, Pool& pool, Progress& progress, int quality)
        : writer_(writer), pool_(pool), progress_(progress), quality_(quality) {
        const QvkHeader& h = writer.header();
        strips_.resize(size_t(h.levels) + 1);
        for (int l = 1; l <= h.levels; ++l) {
            Strip& s = strips_[size_t(l)];
            s.width = h.level[l].width;
            s.height = h.level[l].height;
            s.tile = uint32_t(h.tile_size);
            s.stride = size_t(s.width) * 3;
            s.rgb.resize(s.stride * std::min(s.tile, s.height));
        }
    }

    Strip& finest() { return strips_.back(); }

    // Codes the strip of level l, halves it into the level above and codes that one too when it
    // is complete.
    void emit(int l) {
        if (interrupt_requested.load(std::memory_order_relaxed)) throw BuildInterrupted();
        Strip& s = strips_[size_t(l)];
        Strip* up = l > 1 ? &strips_[size_t(l) - 1] : nullptr;
        const uint32_t T = s.tile, ty = s.y0 / T, rows = s.filled;
        const uint32_t tiles = (s.width + T - 1) / T;
        const uint32_t coder = writer_.header().coder;
        // A derived level is only halved on: its pixels come from the codestreams below it.
        const bool stored = writer_.header().level[l].stored();
        coded_.resize(std::max<size_t>(coded_.size(), tiles));
        pool_.run(tiles, [&](int64_t t) {
            const uint32_t tx = uint32_t(t), x0 = tx * T;
            const uint32_t w = std::min(T, s.width - x0);
            const uint8_t* px = s.rgb.data() + size_t(x0) * 3;
            if (stored && !encode_qvk_tile(coder, quality_, px, s.stride, int(T), int(w), int(rows),
                                           coded_[size_t(t)]))
                throw std::runtime_error("tile coder " + std::to_string(coder) + " cannot code a " +
                                         std::to_string(w) + " x " + std::to_string(rows) +
                                         " tile");
            if (up)
                halve(px, s.stride, w, rows,
                      up->rgb.data() + size_t(up->filled) * up->stride + size_t(x0 / 2) * 3,
                      up->stride);
        });
        // Handed over in tile order, so that the file does not depend on which thread finished
        // first.
        std::string error;
        for (uint32_t tx = 0; stored && tx < tiles; ++tx)
            if (!writer_.add_tile(l, tx, ty, coded_[tx].data(), coded_[tx].size(), error))
                throw std::runtime_error(error);
        progress_.advance(int64_t(rows) * s.width);
        s.y0 += rows;
        s.filled = 0;
        if (up) {
            up->filled += (rows + 1) / 2;
            if (up->complete()) emit(l - 1);
        }
    }

  private:
    QvkWriter& writer_;
    Pool& pool_;
    Progress& progress_;
    int quality_;
    std::vector<Strip> strips_;                // by level, 1..levels
    std::vector<std::vector<uint8_t>> coded_;  // a strip's tiles
};

}  // namespace

double QvkBuildReport::bits_per_pixel() const {
    const double pixels = double(width) * double(height);
    return pixels > 0 ? 8.0 * double(bytes) / pixels : 0.0;
}

double QvkBuildReport::megapixels_per_second() const {
    return seconds > 0 ? double(width) * double(height) / 1e6 / seconds : 0.0;
}

QvkBuildReport build_qvk(RowSource& source, const QvkBuildOptions& options) {
    const int threads = options.threads > 0
                            ? options.threads
                            : int(std::max(1u, std::thread::hardware_concurrency()));
    QvkWriter writer;
    std::string error;
    if (!writer.begin(options.out, source.width(), source.height(), options.coder,
                      uint32_t(std::clamp(options.quality, 0, 100)), error, options.tile_size,
                      options.derive_span < 0 ? kQvkMaxLevels : options.derive_span))
        throw std::runtime_error(error);
    const QvkHeader& h = writer.header();
    QvkBuildReport report;
    report.path = options.out;
    report.width = h.width;
    report.height = h.height;
    report.levels = h.levels;
    report.threads = threads;
    int64_t pixels = 0;
    for (int l = 1; l <= h.levels; ++l) {
        pixels += int64_t(h.level[l].width) * h.level[l].height;
        if (h.level[l].stored()) report.tiles += uint64_t(h.level[l].tiles_x) * h.level[l].tiles_y;
    }

    Pool pool(threads);
    Progress progress(pixels, options.progress, options.terminal);
    progress.set_stage("coding tiles");
    try {
        PyramidWriter pyramid(writer, pool, progress, options.quality);
        Strip& fine = pyramid.finest();
        // Strips read ahead: up to four, or fewer when a strip is large (a very wide picture).
        const size_t strip_bytes = fine.rgb.size();
        const int ahead = int(std::clamp<size_t>((size_t(256) << 20) / strip_bytes, 1, 4));
        const uint32_t T = fine.tile;
        StripReader reader(source, T, fine.stride, ahead);
        for (uint32_t y0 = 0; y0 < fine.height; y0 += T) {
            reader.next(fine.rgb);
            fine.filled = std::min(T, fine.height - y0);
            pyramid.emit(h.levels);
        }
        if (!writer.finish(error)) throw std::runtime_error(error);
    } catch (...) {
        writer.abort();
        throw;
    }
    progress.finish();
    report.seconds = progress.seconds();
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(options.out, ec);
    report.bytes = ec ? writer.bytes() : uint64_t(size);
    return report;
}

std::string format_qvk_report(const QvkBuildReport& r) {
    char text[512];
    snprintf(text, sizeof text,
             "%u x %u pixels, %d level(s), %llu tiles\n"
             "%llu bytes, %.3f bits per pixel\n"
             "%.1f s on %d thread(s), %.1f megapixels per second\n",
             r.width, r.height, r.levels, (unsigned long long)r.tiles, (unsigned long long)r.bytes,
             r.bits_per_pixel(), r.seconds, r.threads, r.megapixels_per_second());
    return text;
}

std::string format_qvk_report_tsv(const QvkBuildReport& r, bool header) {
    std::string out;
    if (header)
        out = "path\twidth\theight\tlevels\ttiles\tbytes\tbits_per_pixel\tseconds\tmpx_per_s\n";
    char text[256];
    snprintf(text, sizeof text, "\t%u\t%u\t%d\t%llu\t%llu\t%.4f\t%.3f\t%.2f\n", r.width, r.height,
             r.levels, (unsigned long long)r.tiles, (unsigned long long)r.bytes, r.bits_per_pixel(),
             r.seconds, r.megapixels_per_second());
    return out + r.path + text;
}

}  // namespace builder
