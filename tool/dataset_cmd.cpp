// build, import and verify: making data sets from the procedural world or from a picture, and
// checking them with the viewer's own validation.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "builder/verify.h"
#include "tool/commands.h"

namespace {

struct MakeArgs {
    std::string out;
    int quality = 60;
    int threads = 0;
    uint64_t seed = 1;
    std::string image;
    std::string fit = "contain";
    int top_level = 5;
    unsigned sub_mask = 0xff;
    std::string report;
};

void on_signal(int) {
    builder::interrupt_requested = true;
}

void add_common(CLI::App* cmd, MakeArgs& a) {
    cmd->add_option("--out", a.out,
                    "Folder to run the viewer in: the data set is written to OUT/ezw_data "
                    "(an existing one is replaced only when the new one is complete)")
        ->required();
    cmd->add_option(
           "--quality", a.quality,
           "0..100: higher keeps finer detail and makes larger files (default 60); the PSNR "
           "promised is 24 + 12 (Q/100)^2 dB")
        ->check(CLI::Range(0, 100));
    cmd->add_option("--threads", a.threads,
                    "Worker threads (default: every core); the output "
                    "is the same for any number")
        ->check(CLI::Range(0, 256));
    cmd->add_option("--report", a.report,
                    "Also write the summary as tab-separated lines to this file (quality, level, "
                    "pixels, bytes, bits per pixel, PSNR, seconds; level \"all\" counts every "
                    "level's bytes per pixel of the finest)");
    // Internal, for tests: code only the levels up to N and the sub-images of a bit mask.
    cmd->add_option("--top-level", a.top_level)->check(CLI::Range(1, 5))->group("");
    cmd->add_option("--subimages", a.sub_mask)->check(CLI::Range(0, 255))->group("");
}

void run_make(const MakeArgs& a, bool import) {
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
        if (!a.report.empty()) {
            FILE* f = fopen(a.report.c_str(), "w");
            const std::string tsv = builder::format_report_tsv(r, a.quality, true);
            bool ok = f && fputs(tsv.c_str(), f) >= 0;
            if (f && fclose(f) != 0) ok = false;
            if (!ok) {
                fprintf(stderr, "quorvik-tool: cannot write the report %s\n", a.report.c_str());
                tool_status = 1;
            }
        }
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
        "build", "Make the default data set: a procedural world, the same for the same seed");
    add_common(build, build_args);
    build->add_option("--seed", build_args.seed, "World seed (default 1)");
    build->callback([] { run_make(build_args, false); });

    CLI::App* import = app.add_subcommand(
        "import",
        "Make a data set from a picture (any format libvips reads), resampled to "
        "65536 x 32768");
    import->add_option("IMAGE", import_args.image, "The picture")->required();
    add_common(import, import_args);
    import
        ->add_option("--fit", import_args.fit,
                     "contain: show all of a picture that is not 2:1, with black bars; cover: "
                     "fill the world and crop; native: no resampling, the picture pixel for "
                     "pixel from the top-left corner of the finest level, cropped or padded with "
                     "black (default contain)")
        ->check(CLI::IsMember({"contain", "cover", "native"}));
    import->callback([] { run_make(import_args, true);
});

CLI::App* verify = app.add_subcommand(
    "verify", "Check a data set with the viewer's validation; exit status 0 only when sound");
verify->add_option("DIR", verify_dir, "The folder holding ezw_data (or ezw_data itself)")
    ->required();
verify->add_flag("--decode", verify_opt.decode,
                 "Also decode every tile and report those whose streams run short");
verify->add_option("--threads", verify_opt.threads, "Worker threads (default: every core)")
    ->check(CLI::Range(0, 256));
verify->callback([] {
    tool_status = builder::verify_data_set(verify_dir, verify_opt, stdout) ? 0 : 1;
});
}
