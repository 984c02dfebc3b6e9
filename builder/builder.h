#pragma once
// Makes a complete data set (minimap, eight base textures, 96 tile files) from a source, in a
// temporary folder that is renamed into place only when every file is written.
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "builder/seam.h"
#include "builder/source.h"
#include "builder/tile_coder.h"

namespace builder {

struct BuildOptions {
    std::string out_dir;  // the data set goes to out_dir/ezw_data
    Quality quality;
    int threads = 0;  // 0: every core
    bool progress = true;
    bool terminal = false;  // draw a bar instead of progress lines
    // For tests: only levels up to top_level are coded from the source (files above it hold
    // empty records), and only the sub-images whose bit is set in sub_mask (the others get a grey
    // base texture and empty records). The files always have the full geometry.
    int top_level = 5;
    unsigned sub_mask = 0xff;
    // Called before each sub-image's level is coded; a test may throw from it to interrupt.
    std::function<void(int sub, int level)> on_stage;
};

struct LevelReport {
    int64_t bytes = 0;   // file bytes of the level (all sub-images, all channels)
    int64_t pixels = 0;  // coded pixels
    double sse = 0;      // squared error of the viewer's picture against the source, all channels
    int64_t tiles = 0;
    int64_t short_channels = 0;  // channels whose decode did not end cleanly (must stay 0)
    int64_t refits = 0;          // tiles whose dead zone was raised to fit the stream limits
    int64_t over_budget = 0;     // tile channels that still needed cheap passes
    int compressed_files = 0;    // files whose dominant streams are zlib streams
    SeamStats seams;             // error steps across tile borders and tile middles, smooth areas
    double psnr() const;         // +inf for an exact level
};

// Levels count only what was coded: the sub-images of sub_mask, levels up to top_level.
struct BuildReport {
    LevelReport level[6];  // 1 (base textures) .. 5
    int64_t minimap_bytes = 0;
    int64_t coded_bytes = 0;  // the coded levels' files, base textures included
    int64_t files_bytes = 0;  // every file written (placeholders and minimap too)
    int top_level = 0;        // finest level coded (0: nothing coded)
    // Bits per pixel of the finest coded level with every coded level's bytes counted: what the
    // whole pyramid costs per pixel of the picture it shows at full resolution.
    double pyramid_bpp() const;
    double seconds = 0;
    int threads = 0;
    std::string path;  // where the data set now is
};

// Thrown when a build stops early (interrupt or a test's on_stage); the partial folder is gone.
struct BuildInterrupted : std::runtime_error {
    BuildInterrupted() : std::runtime_error("interrupted") {}
};

// Set from a signal handler to stop a running build at the next tile.
extern std::atomic<bool> interrupt_requested;

// Builds the data set; throws std::runtime_error (with a readable message) on I/O failures and
// BuildInterrupted when stopped. Either way no partial data set is left behind.
BuildReport build_data_set(Source& source, const BuildOptions& options);

// Human-readable summary (time, bytes, bits per pixel and PSNR per level).
std::string format_report(const BuildReport& report);

// The same figures as tab-separated lines for scripts, one per coded level and one for the
// whole pyramid ("all"): quality, level, pixels, bytes, bits per pixel, PSNR (dB; "inf" when
// exact), seconds, and the mean error step (grey levels) across tile borders and across tile
// middles where the source is smooth (0 for level 1; "all" repeats the finest level's).
// `header` adds a first line naming the columns.
std::string format_report_tsv(const BuildReport& report, int quality, bool header);

}  // namespace builder
