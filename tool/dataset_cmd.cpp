// build, import and verify: making data sets from the procedural world or from a picture, as a
// folder or as one .qvk file, and checking them with the viewer's own validation.
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "builder/qvk_build.h"
#include "builder/qvk_verify.h"
#include "builder/verify.h"
#include "tool/commands.h"

namespace {

struct MakeArgs {
    std::string out;
    int quality = 60;  // the folder form's default; kHtj2kDefaultQuality for HTJ2K tiles
    int threads = 0;
    uint64_t seed = 1;
    std::string image;
    std::string fit = "contain";
    int top_level = 5;
    unsigned sub_mask = 0xff;
    std::string report;
    std::string size;              // WxH, the one-file world's
    int tile_size = kQvkTileSize;  // the one-file form's stored tiles
    std::string coder = "htj2k";   // and their coder
    // Options that apply to one form only, to reject them with the other.
    CLI::Option* fit_option = nullptr;
    CLI::Option* size_option = nullptr;
    CLI::Option* tile_size_option = nullptr;
    CLI::Option* coder_option = nullptr;
    CLI::Option* quality_option = nullptr;
    CLI::Option* top_level_option = nullptr;
    CLI::Option* subimages_option = nullptr;
};

constexpr uint32_t kDefaultWorldW = 65536, kDefaultWorldH = 32768;
// HTJ2K tiles default to 512 pixels: 1024 gains only 0.03-0.23 dB at equal bytes, most at the
// lowest rates (bench/results/htj2k), while the first view of a place waits for whole stored
// tiles to decode, and a 1024-pixel one is four times the work (about 13 ms against 3 at the
// measured 80 megapixels per second) and four times the cache memory.
constexpr int kHtj2kDefaultTileSize = 512;
// Quality 43 makes HTJ2K files no larger than the folder form's at its default (60) and over
// 5 dB better, on the photographs' mosaic and on the world alike (bench/results/rd-forms).
constexpr int kHtj2kDefaultQuality = 43;

void on_signal(int) {
    builder::interrupt_requested = true;
}

void add_common(CLI::App* cmd, MakeArgs& a) {
    cmd->add_option("--out", a.out,
                    "Folder to run the viewer in: the data set is written to OUT/ezw_data. A "
                    "name ending in .qvk writes the one-file form instead: every level of the "
                    "picture at its own size in that one file. Either is replaced only when the "
                    "new one is complete")
        ->required();
    a.quality_option =
        cmd->add_option(
               "--quality", a.quality,
               "0..100: higher keeps finer detail and makes larger files (default 60; 43 for a "
               ".qvk file's htj2k tiles); the PSNR promised is 24 + 12 (Q/100)^2 dB. In a .qvk "
               "file it sets the htj2k coder's quantisation step (quality 43 makes about 0.6 bit "
               "per pixel of photographs at 44-47 dB); the deflate coder is lossless and only "
               "records it")
            ->check(CLI::Range(0, 100));
    cmd->add_option("--threads", a.threads,
                    "Worker threads (default: every core); the output "
                    "is the same for any number (with --coder htj2k, its pixels)")
        ->check(CLI::Range(0, 256));
    cmd->add_option("--report", a.report,
                    "Also write the summary as tab-separated lines to this file (quality, level, "
                    "pixels, bytes, bits per pixel, PSNR, seconds; level \"all\" counts every "
                    "level's bytes per pixel of the finest). For a .qvk file, one line: path, "
                    "width, height, levels, tiles, bytes, bits per pixel, seconds, megapixels "
                    "per second");
    a.tile_size_option =
        cmd->add_option("--tile-size", a.tile_size,
                        "Side of a .qvk file's stored tiles: 64, 128, 256, 512 or 1024 pixels "
                        "(default 512 with --coder htj2k, 64 with deflate). Larger tiles suit "
                        "coders whose per-tile cost is high")
            ->check([](const std::string& text) -> std::string {
                char* end = nullptr;
                const long v = strtol(text.c_str(), &end, 10);
                if (end == text.c_str() || *end != '\0' || v < 0 || !qvk_tile_size_ok(uint32_t(v)))
                    return "must be 64, 128, 256, 512 or 1024";
                return "";
            });
    a.coder_option = cmd->add_option("--coder", a.coder,
                                     "How a .qvk file's tiles are coded: htj2k (HTJ2K, lossy at "
                                     "--quality, the default; the coarser levels come from the "
                                     "finer levels' codestreams) or deflate (lossless, every "
                                     "level stored)")
                         ->check(CLI::IsMember({"deflate", "htj2k"}));
    // Internal, for tests: code only the levels up to N and the sub-images of a bit mask.
    a.top_level_option =
        cmd->add_option("--top-level", a.top_level)->check(CLI::Range(1, 5))->group("");
    a.subimages_option =
        cmd->add_option("--subimages", a.sub_mask)->check(CLI::Range(0, 255))->group("");
}

// "WxH", each side 1 .. the most a picture may have; a usage error otherwise.
void parse_size(const std::string& text, uint32_t& w, uint32_t& h) {
    const std::string why = "expected WIDTHxHEIGHT, each 1.." + std::to_string(kQvkMaxSide) +
                            " (for instance 65536x32768), not \"" + text + "\"";
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 == text.size() ||
        text.find_first_not_of("0123456789", 0) != x ||
        text.find_first_not_of("0123456789", x + 1) != std::string::npos || x > 8 ||
        text.size() - x - 1 > 8)
        throw CLI::ValidationError("--size", why);
    const uint64_t pw = std::stoull(text.substr(0, x)), ph = std::stoull(text.substr(x + 1));
    if (pw < 1 || pw > kQvkMaxSide || ph < 1 || ph > kQvkMaxSide)
        throw CLI::ValidationError("--size", why);
    w = uint32_t(pw);
    h = uint32_t(ph);
}

void write_report(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    FILE* f = fopen(path.c_str(), "w");
    bool ok = f && fputs(text.c_str(), f) >= 0;
    if (f && fclose(f) != 0) ok = false;
    if (!ok) {
        fprintf(stderr, "quorvik-tool: cannot write the report %s\n", path.c_str());
        tool_status = 1;
    }
}

// The one-file form: the world at --size, or a picture at its own size.
void run_make_qvk(const MakeArgs& a, bool import) {
    if (a.fit_option && a.fit_option->count() > 0)
        throw CLI::ValidationError("--fit",
                                   "a .qvk picture keeps the picture's own size; leave --fit out");
    if (a.top_level_option->count() > 0 || a.subimages_option->count() > 0)
        throw CLI::ValidationError("--top-level/--subimages", "apply only to a folder data set");
    uint32_t w = kDefaultWorldW, h = kDefaultWorldH;
    if (!a.size.empty()) parse_size(a.size, w, h);
    std::unique_ptr<builder::RowSource> source;
    try {
        source = import ? builder::make_image_rows(a.image)
                        : builder::make_world_rows(a.seed, w, h, a.threads);
    } catch (const std::exception& e) {
        fprintf(stderr, "quorvik-tool: %s\n", e.what());
        tool_status = 1;
        return;
    }
    builder::QvkBuildOptions opt;
    opt.out = a.out;
    opt.coder = a.coder == "htj2k" ? QvkCoder::htj2k : QvkCoder::deflate_rgb;
    opt.quality = a.quality_option->count() == 0 && opt.coder == QvkCoder::htj2k
                      ? kHtj2kDefaultQuality
                      : a.quality;
    opt.tile_size = a.tile_size_option->count() == 0 && opt.coder == QvkCoder::htj2k
                        ? kHtj2kDefaultTileSize
                        : a.tile_size;
    opt.threads = a.threads;
    opt.terminal = isatty(STDERR_FILENO) != 0;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    fprintf(stderr, "writing the %s to %s (%s, %d-pixel tiles, quality %d)\n",
            source->describe().c_str(), a.out.c_str(), a.coder.c_str(), opt.tile_size, opt.quality);
    try {
        const builder::QvkBuildReport r = builder::build_qvk(*source, opt);
        printf("picture written to %s\n%s", r.path.c_str(), builder::format_qvk_report(r).c_str());
        write_report(a.report, builder::format_qvk_report_tsv(r, true));
    } catch (const builder::BuildInterrupted&) {
        fprintf(stderr, "\nquorvik-tool: interrupted; %s was not written\n", a.out.c_str());
        tool_status = 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "\nquorvik-tool: %s; %s was not written\n", e.what(), a.out.c_str());
        tool_status = 1;
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

void run_make(const MakeArgs& a, bool import) {
    if (builder::is_qvk_path(a.out)) {
        run_make_qvk(a, import);
        return;
    }
    if (a.size_option && a.size_option->count() > 0)
        throw CLI::ValidationError("--size", "applies only to a .qvk picture (--out NAME.qvk)");
    if (a.tile_size_option && a.tile_size_option->count() > 0)
        throw CLI::ValidationError("--tile-size",
                                   "applies only to a .qvk picture (--out NAME.qvk)");
    if (a.coder_option && a.coder_option->count() > 0)
        throw CLI::ValidationError("--coder", "applies only to a .qvk picture (--out NAME.qvk)");
    std::unique_ptr<builder::Source> source;
    try {
        source = import ? builder::make_image_source(a.image, a.fit == "cover" ? builder::Fit::cover
                                                              : a.fit == "native"
                                                                  ? builder::Fit::native
                                                                  : builder::Fit::contain)
                        : builder::make_world_source(a.seed);
    } catch (const std::exception& e) {
        fprintf(stderr, "quorvik-tool: %s\n", e.what());
        tool_status = 1;
        return;
    }
    builder::BuildOptions opt;
    opt.out_dir = a.out;
    opt.quality.value = a.quality;
    opt.threads = a.threads;
    opt.terminal = isatty(STDERR_FILENO) != 0;
    opt.top_level = a.top_level;
    opt.sub_mask = a.sub_mask;
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    fprintf(stderr, "building a data set from the %s into %s/ezw_data (quality %d)\n",
            source->describe().c_str(), a.out.c_str(), a.quality);
    try {
        const builder::BuildReport r = builder::build_data_set(*source, opt);
        printf("data set written to %s\n%s", r.path.c_str(), builder::format_report(r).c_str());
        write_report(a.report, builder::format_report_tsv(r, a.quality, true));
        int64_t short_channels = 0, over = 0;
        for (int l = 2; l <= 5; ++l) {
            short_channels += r.level[l].short_channels;
            over += r.level[l].over_budget;
        }
        const builder::Quality quality{a.quality};
        for (int l = 2; l <= 5; ++l)
            if (r.level[l].pixels > 0 && r.level[l].psnr() < quality.promised_psnr())
                printf(
                    "note: level %d reaches %.2f dB, below the %.2f dB quality %d promises; "
                    "the picture has more fine detail than the quality was made for\n",
                    l, r.level[l].psnr(), quality.promised_psnr(), a.quality);
        if (over > 0)
            printf(
                "note: %lld tile channel(s) lost detail to fit the decoder's 4096-byte streams\n",
                (long long)over);
        if (short_channels > 0) {
            fprintf(stderr, "quorvik-tool: %lld tile channel(s) did not decode cleanly\n",
                    (long long)short_channels);
            tool_status = 1;
        }
    } catch (const builder::BuildInterrupted&) {
        fprintf(stderr, "\nquorvik-tool: interrupted; no data set was written\n");
        tool_status = 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "\nquorvik-tool: %s; no data set was written\n", e.what());
        tool_status = 1;
    }
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

}  // namespace

void register_dataset_commands(CLI::App& app) {
    static MakeArgs build_args, import_args;
    static std::string verify_dir;
    static builder::VerifyOptions verify_opt;

    CLI::App* build = app.add_subcommand(
        "build",
        "Make the default data set: a procedural world, the same for the same seed; with --out "
        "NAME.qvk, the world in one file at any size");
    add_common(build, build_args);
    build->add_option("--seed", build_args.seed, "World seed (default 1)");
    build_args.size_option = build->add_option(
        "--size", build_args.size,
        "WIDTHxHEIGHT of a .qvk world, each 1..2097152 (default 65536x32768, the folder data "
        "set's finest level); the top-left corner of the first level of the world that is at "
        "least that large");
    build->callback([] { run_make(build_args, false); });

    CLI::App* import_cmd = app.add_subcommand(
        "import",
        "Make a data set from a picture (any format libvips reads), resampled to 65536 x 32768; "
        "with --out NAME.qvk, the picture at its own size in one file");
    import_cmd->add_option("IMAGE", import_args.image, "The picture")->required();
    add_common(import_cmd, import_args);
    import_args.fit_option =
        import_cmd
            ->add_option("--fit", import_args.fit,
                         "contain: show all of a picture that is not 2:1, with black bars; cover: "
                         "fill the world and crop; native: no resampling, the picture pixel for "
                         "pixel from the top-left corner of the finest level, cropped or padded "
                         "with black (default contain). Not for a .qvk file, which always keeps "
                         "the picture's own size")
            ->check(CLI::IsMember({"contain", "cover", "native"}));
    import_cmd->callback([] { run_make(import_args, true); });

    CLI::App* verify = app.add_subcommand(
        "verify",
        "Check a data set (a folder, or a .qvk file whose every tile is read and decoded) with "
        "the viewer's validation; exit status 0 only when sound");
    verify
        ->add_option("DIR", verify_dir,
                     "The folder holding ezw_data (or ezw_data itself), or a .qvk file")
        ->required();
    verify->add_flag("--decode", verify_opt.decode,
                     "Also decode every tile and report those whose streams run short (a .qvk "
                     "file is always decoded)");
    verify->add_option("--threads", verify_opt.threads, "Worker threads (default: every core)")
        ->check(CLI::Range(0, 256));
    verify->callback([] {
        // A file is read as a one-file picture whatever its name; a folder as a data set.
        std::error_code ec;
        if (builder::is_qvk_path(verify_dir) || std::filesystem::is_regular_file(verify_dir, ec)) {
            std::string open_error;
            tool_status =
                builder::verify_qvk(verify_dir, verify_opt.threads, stdout, open_error) ? 0 : 1;
            if (!open_error.empty()) fprintf(stderr, "quorvik-tool: %s\n", open_error.c_str());
            return;
        }
        tool_status = builder::verify_data_set(verify_dir, verify_opt, stdout) ? 0 : 1;
    });
}
