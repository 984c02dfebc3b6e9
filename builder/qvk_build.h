#pragma once
// Writes a one-file picture (store/qvk_format.h) from a row source in one pass: the finest level
// is read in strips of one stored tile row, each strip's tiles are coded side by side and handed to
// the writer, and each strip is halved into the next level's strip, which is coded in turn when it
// holds a tile row. Memory is a few strips per level, whatever the picture's height.
#include <cstdint>
#include <string>

#include "builder/row_source.h"
#include "store/qvk_format.h"

namespace builder {

struct QvkBuildOptions {
    std::string out;  // the .qvk file; replaced only when the new one is complete
    // 0: every core. The file is the same for any number, but for HTJ2K tiles, whose pixels are
    // the same and whose bytes may differ by a few empty code blocks (encoder/qvk_tile_encode.h).
    int threads = 0;
    bool progress = true;
    bool terminal = false;  // draw a bar instead of progress lines
    int quality = 60;       // 0..100, stored as the coder's parameter
    QvkCoder coder = QvkCoder::deflate_rgb;
    int tile_size = kQvkTileSize;  // stored tiles' side: a power of two from 64 to 1024
    // Levels derived from the codestreams of the stored level below them, between stored levels
    // (store/qvk_format.h); -1: as many as the coder and tile size allow.
    int derive_span = -1;
};

struct QvkBuildReport {
    std::string path;
    uint32_t width = 0, height = 0;
    int levels = 0;
    uint64_t tiles = 0;  // stored
    uint64_t bytes = 0;  // the whole file
    double seconds = 0;
    int threads = 0;
    double bits_per_pixel() const;  // file bytes per pixel of the picture, in bits
    double megapixels_per_second() const;
};

// Builds the file; throws std::runtime_error (a readable message naming the file) on I/O
// failures and BuildInterrupted (builder.h) when builder::interrupt_requested is set. Either way
// no file is left behind and an existing one is kept.
QvkBuildReport build_qvk(RowSource& source, const QvkBuildOptions& options);

// Human-readable summary: size, levels, tiles, bytes, bits per pixel, time and speed.
std::string format_qvk_report(const QvkBuildReport& report);
// The same as one tab-separated line (path, width, height, levels, tiles, bytes, bits per pixel,
// seconds, megapixels per second); `header` adds a first line naming the columns.
std::string format_qvk_report_tsv(const QvkBuildReport& report, bool header);

}  // namespace builder
