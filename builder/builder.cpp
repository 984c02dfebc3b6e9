#include "builder/builder.h"

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "store/data_set.h"
#include "builder/base_fit.h"
#include "builder/progress.h"
#include "builder/pyramid.h"

namespace fs = std::filesystem;

namespace builder {

std::atomic<bool> interrupt_requested{false};

namespace {

void check_interrupt() {
    if (interrupt_requested.load(std::memory_order_relaxed)) throw BuildInterrupted();
}

void write_whole_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path.string() + ": " + strerror(errno));
    const size_t n = fwrite(bytes.data(), 1, bytes.size(), f);
    const bool ok = n == bytes.size() && fflush(f) == 0 && fsync(fileno(f)) == 0;
    const int err = errno;
    if (fclose(f) != 0 || !ok)
        throw std::runtime_error("cannot write " + path.string() + ": " + strerror(err));
}

void put_i32(std::vector<uint8_t>& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

// Raw image file with ID 2 from interleaved RGB.
std::vector<uint8_t> raw_image_file(int w, int h, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out;
    out.reserve(9 + rgb.size());
    out.push_back(2);
    put_i32(out, w);
    put_i32(out, h);
    out.insert(out.end(), rgb.begin(), rgb.end());
    return out;
}

std::vector<uint8_t> interleave(const Planes& p) {
    std::vector<uint8_t> rgb(size_t(p.w) * p.h * 3);
    for (int y = 0; y < p.h; ++y)
        for (int ch = 0; ch < 3; ++ch) {
            const uint8_t* s = p.at(ch, 0, y);
            uint8_t* d = rgb.data() + size_t(y) * p.w * 3 + ch;
            for (int x = 0; x < p.w; ++x) d[3 * x] = s[x];
        }
    return rgb;
}

// A tile file whose every record is empty (threshold 0: the decoder runs no pass).
std::vector<uint8_t> empty_tile_file(int level) {
    std::vector<uint8_t> out;
    const int size = level_merged_size(level);
    append_tile_file_header(out, false, size, size, kMaxPasses);
    const int64_t tiles = int64_t(size / 64) * (size / 64);
    EncodedChannel none;
    for (int64_t t = 0; t < tiles; ++t) append_record(out, none, false);
    return out;
}

struct CodedLevelTile {
    TileCode code;
    std::vector<uint8_t> zlib[3];  // the channel records with zlib-compressed dominant streams
};

const char kChannelLetter[3] = {'R', 'G', 'B'};

// libdeflate's level 12 makes the dominant streams about 2.5 % smaller than level 6 but takes
// as long as the coding itself; 9 gains 0.4 %.
constexpr int kZlibLevel = 6;

class Builder {
  public:
    Builder(Source& source, const BuildOptions& opt)
        : source_(source), opt_(opt), pool_(thread_count(opt.threads)) {}

    BuildReport run() {
        // Each level's tile records, streams and files are allocated and freed again; by default
        // freed memory goes back to the system and every level's pages come back to be cleared
        // by the kernel anew (a tenth of a build's time). Keep it in the process instead.
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        const fs::path out = opt_.out_dir.empty() ? fs::path(".") : fs::path(opt_.out_dir);
        std::error_code ec;
        fs::create_directories(out, ec);
        if (!fs::is_directory(out))
            throw std::runtime_error("cannot create the output folder " + out.string());
        const fs::path final_dir = out / "ezw_data";
        remove_stale_partials(out);
        tmp_ = out / (".ezw_data.partial-" + std::to_string(getpid()));
        fs::remove_all(tmp_, ec);
        if (!fs::create_directory(tmp_, ec))
            throw std::runtime_error("cannot create " + tmp_.string() + ": " + ec.message());
        try {
            make_all();
            check_interrupt();
            install(final_dir);
        } catch (...) {
            fs::remove_all(tmp_, ec);
            throw;
        }
        report_.path = final_dir.string();
        report_.threads = pool_.threads();
        report_.top_level = opt_.sub_mask & 0xffu ? top() : 0;
        return report_;
    }

  private:
    // A build that was killed outright (no chance to clean up) leaves its partial folder; the
    // process id in the name tells whether its owner is still running.
    static void remove_stale_partials(const fs::path& out) {
        const std::string prefix = ".ezw_data.partial-";
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(out, ec)) {
            const std::string name = e.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) != 0) continue;
            const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
            if (pid <= 0 || (kill(pid_t(pid), 0) != 0 && errno == ESRCH)) {
                std::error_code ignore;
                fs::remove_all(e.path(), ignore);
            }
        }
    }

    static int thread_count(int requested) {
        if (requested > 0) return requested;
        const unsigned n = std::thread::hardware_concurrency();
        return n > 0 ? int(n) : 1;
    }

    int top() const { return std::clamp(opt_.top_level, 1, 5); }
    bool coded(int sub) const { return (opt_.sub_mask >> sub) & 1u; }

    void make_all() {
        int64_t total = 0;
        for (int s = 0; s < kSubImages; ++s) {
            if (!coded(s)) continue;
            const int64_t fine = int64_t(1024) << (top() - 1);
            total += fine * fine;  // making the source
            for (int l = 2; l <= top(); ++l) {
                const int64_t n = int64_t(1024) << (l - 1);
                total += 3 * n * n;  // coding (2) and the closed-loop decode (1)
            }
        }
        progress_ = std::make_unique<Progress>(total, opt_.progress, opt_.terminal);
        std::vector<uint8_t> bases[kSubImages];
        for (int s = 0; s < kSubImages; ++s) {
            check_interrupt();
            bases[s] = coded(s) ? make_sub_image(s) : grey_sub_image(s);
        }
        make_minimap(bases);
        progress_->finish();
        report_.seconds = progress_->seconds();
        for (int l = 1; l <= 5; ++l) report_.coded_bytes += report_.level[l].bytes;
        report_.files_bytes += report_.minimap_bytes;
    }

    // Files of sub-images and levels that are not coded (grey bases, empty records) are written
    // but not counted in the levels' bytes: the report describes what was coded.
    std::vector<uint8_t> grey_sub_image(int s) {
        std::vector<uint8_t> rgb(size_t(1024) * 1024 * 3, 128);
        write_base(s, rgb, false);
        for (int l = 2; l <= 5; ++l)
            for (int c = 0; c < 3; ++c) write_tile_file(s, l, c, empty_tile_file(l), false);
        return rgb;
    }

    void write_base(int s, const std::vector<uint8_t>& rgb, bool coded) {
        const std::vector<uint8_t> file = raw_image_file(1024, 1024, rgb);
        write_whole_file(tmp_ / base_tex_name(s), file);
        report_.files_bytes += int64_t(file.size());
        if (!coded) return;
        report_.level[1].bytes += int64_t(file.size());
        report_.level[1].pixels += 1024 * 1024;
    }

    void write_tile_file(int s, int l, int c, const std::vector<uint8_t>& bytes, bool coded) {
        write_whole_file(tmp_ / tile_file_name(s, l, kChannelLetter[c]), bytes);
        report_.files_bytes += int64_t(bytes.size());
        if (coded) report_.level[l].bytes += int64_t(bytes.size());
    }

    std::vector<uint8_t> make_sub_image(int s) {
        const std::string name = kSubImageNames[s];
        const int t = top();
        const int fine = 1024 << (t - 1);
        progress_->set_stage(name + ": making the picture");
        // The planes are kept from one sub-image to the next (same sizes every time).
        Planes* src = src_;
        Planes* pred = pred_;
        source_.sub_image(s, fine, src[t], pool_);
        check_interrupt();
        progress_->advance(int64_t(fine) * fine);
        for (int l = t; l > 1; --l) decimate(src[l], src[l - 1], pool_);
        // The base texture: the least-squares fit of level 2 through one upsampling step.
        // Fitting a finer level through more steps gives the finer levels no more (measured on
        // photographs) and costs far more time.
        if (t >= 2) fit_base(src[2], 1, src[1], pool_);
        std::vector<uint8_t> base_rgb = interleave(src[1]);
        write_base(s, base_rgb, true);

        pred[1].reset(1024, 1024, kPredictionMargin);
        for (int ch = 0; ch < 3; ++ch)
            for (int y = 0; y < 1024; ++y) memcpy(pred[1].at(ch, 0, y), src[1].at(ch, 0, y), 1024);
        pred[1].clamp_margin();
        for (int l = 2; l <= 5; ++l) {
            if (l > t) {
                for (int c = 0; c < 3; ++c) write_tile_file(s, l, c, empty_tile_file(l), false);
                continue;
            }
            if (opt_.on_stage) opt_.on_stage(s, l);
            check_interrupt();
            progress_->set_stage(name + " level " + std::to_string(l));
            upsample(pred[l - 1], pred[l], pool_);
            code_level(s, l, src[l], pred[l]);
        }
        return base_rgb;
    }

    void code_level(int s, int l, const Planes& src, const Planes& pred) {
        const int size = src.w;
        const int across = size / 64;
        const int64_t tiles = int64_t(across) * across;
        std::vector<CodedLevelTile> coded(static_cast<size_t>(tiles));
        const Quality q = opt_.quality;
        pool_.run(tiles, [&](int64_t i) {
            check_interrupt();
            CodedLevelTile& t = coded[size_t(i)];
            code_tile(src, pred, int(i % across) * 64, int(i / across) * 64, q, t.code);
            for (int c = 0; c < 3; ++c) append_record(t.zlib[c], t.code.ch[c], true, kZlibLevel);
            progress_->advance(2 * 4096);
        });
        LevelReport& rep = report_.level[l];
        std::vector<uint8_t> files[3];
        std::vector<size_t> offsets[3];
        bool compressed[3];
        for (int c = 0; c < 3; ++c) {
            // One flag per file: compress every dominant stream when that is smaller overall.
            int64_t stored = 0, zipped = 0;
            for (const auto& t : coded) {
                stored +=
                    9 + int64_t(t.code.ch[c].dominant.size() + t.code.ch[c].subordinate.size());
                zipped += int64_t(t.zlib[c].size());
            }
            compressed[c] = zipped < stored;
            std::vector<uint8_t>& f = files[c];
            f.reserve(size_t(24 + std::min(stored, zipped)));
            append_tile_file_header(f, compressed[c], size, size, kMaxPasses);
            offsets[c].resize(size_t(tiles));
            for (int64_t i = 0; i < tiles; ++i) {
                offsets[c][size_t(i)] = f.size();
                if (compressed[c]) {
                    const auto& z = coded[size_t(i)].zlib[c];
                    f.insert(f.end(), z.begin(), z.end());
                } else {
                    append_record(f, coded[size_t(i)].code.ch[c], false);
                }
            }
            if (compressed[c]) ++rep.compressed_files;
        }
        for (const auto& t : coded) {
            rep.refits += t.code.refits > 0;
            for (int c = 0; c < 3; ++c) rep.over_budget += t.code.over_budget;
        }
        std::vector<CodedLevelTile>().swap(coded);

        // Closed loop: decode the files as written, with the viewer's decoder, on top of the
        // viewer's prediction, and measure against the source.
        std::vector<double> sse(static_cast<size_t>(tiles));
        std::vector<int> short_channels(static_cast<size_t>(tiles));
        std::vector<TileEdges> edges(static_cast<size_t>(tiles));
        std::vector<SeamStats> middles(static_cast<size_t>(tiles));
        pool_.run(tiles, [&](int64_t i) {
            check_interrupt();
            const uint8_t* rec[3];
            size_t len[3];
            for (int c = 0; c < 3; ++c) {
                rec[c] = files[c].data() + offsets[c][size_t(i)];
                len[c] = files[c].size() - offsets[c][size_t(i)];
            }
            int bad = 0;
            const int x0 = int(i % across) * 64, y0 = int(i / across) * 64;
            alignas(16) int16_t error[3][64][64];
            const double e =
                closed_loop_error(src, pred, x0, y0, rec, len, compressed, kMaxPasses, bad, error);
            tile_edges(src, x0, y0, error, edges[size_t(i)], middles[size_t(i)]);
            sse[size_t(i)] = e;
            short_channels[size_t(i)] = bad;
            progress_->advance(4096);
        });
        for (int64_t i = 0; i < tiles; ++i) {
            rep.sse += sse[size_t(i)];
            rep.short_channels += short_channels[size_t(i)];
            rep.seams.add(middles[size_t(i)]);
        }
        border_steps(src, across, edges.data(), rep.seams);
        rep.tiles += tiles;
        rep.pixels += int64_t(size) * size;
        for (int c = 0; c < 3; ++c) write_tile_file(s, l, c, files[c], true);
    }

    void make_minimap(const std::vector<uint8_t> bases[kSubImages]) {
        // 256 x 128 over the 4096 x 2048 level-1 world: each pixel the mean of a 16 x 16 block.
        const int w = 256, h = 128;
        std::vector<uint8_t> rgb(size_t(w) * h * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const int s = (x / 64) + 4 * (y / 64);
                const int bx = (x % 64) * 16, by = (y % 64) * 16;
                for (int c = 0; c < 3; ++c) {
                    int sum = 0;
                    for (int j = 0; j < 16; ++j) {
                        const uint8_t* row = bases[s].data() + (size_t(by + j) * 1024 + bx) * 3;
                        for (int i = 0; i < 16; ++i) sum += row[3 * i + c];
                    }
                    rgb[(size_t(y) * w + x) * 3 + c] = uint8_t((sum + 128) / 256);
                }
            }
        const std::vector<uint8_t> file = raw_image_file(w, h, rgb);
        write_whole_file(tmp_ / "minimap.pzd", file);
        report_.minimap_bytes = int64_t(file.size());
    }

    void install(const fs::path& final_dir) {
        std::error_code ec;
        fs::path old;
        if (fs::exists(final_dir)) {
            old = final_dir.parent_path() / (".ezw_data.old-" + std::to_string(getpid()));
            fs::remove_all(old, ec);
            fs::rename(final_dir, old, ec);
            if (ec)
                throw std::runtime_error("cannot move the old " + final_dir.string() +
                                         " aside: " + ec.message());
        }
        fs::rename(tmp_, final_dir, ec);
        if (ec) {
            std::error_code ignore;
            if (!old.empty()) fs::rename(old, final_dir, ignore);
            throw std::runtime_error("cannot rename " + tmp_.string() + " to " +
                                     final_dir.string() + ": " + ec.message());
        }
        if (!old.empty()) fs::remove_all(old, ec);
    }

    Source& source_;
    const BuildOptions& opt_;
    Planes src_[6], pred_[6];  // by level
    Pool pool_;
    fs::path tmp_;
    std::unique_ptr<Progress> progress_;
    BuildReport report_;
};

}  // namespace

double LevelReport::psnr() const {
    if (pixels == 0 || sse <= 0) return std::numeric_limits<double>::infinity();
    const double mse = sse / (double(pixels) * 3.0);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

BuildReport build_data_set(Source& source, const BuildOptions& options) {
    Builder b(source, options);
    return b.run();
}

double BuildReport::pyramid_bpp() const {
    if (top_level < 1 || level[top_level].pixels == 0) return 0.0;
    return 8.0 * double(coded_bytes) / double(level[top_level].pixels);
}

std::string format_report(const BuildReport& r) {
    std::string s;
    char line[240];
    snprintf(line, sizeof line,
             "level  pixels          bytes           bits/pixel  PSNR (dB)  refitted tiles  "
             "seam steps (border/middle)\n");
    s += line;
    for (int l = 1; l <= 5; ++l) {
        const LevelReport& v = r.level[l];
        if (v.pixels == 0) continue;  // not coded
        const double bpp = 8.0 * double(v.bytes) / double(v.pixels);
        const double p = v.psnr();
        char ps[32];
        if (l == 1 || std::isinf(p))
            snprintf(ps, sizeof ps, "exact");
        else
            snprintf(ps, sizeof ps, "%.2f", p);
        char seams[48] = "";
        if (l > 1) snprintf(seams, sizeof seams, "%.3f / %.3f", v.seams.border(), v.seams.middle());
        snprintf(line, sizeof line, "%-6d %-15lld %-15lld %-11.3f %-10s %-15lld %s\n", l,
                 (long long)v.pixels, (long long)v.bytes, bpp, ps, (long long)v.refits, seams);
        s += line;
    }
    if (r.top_level > 0) {
        snprintf(line, sizeof line, "all levels: %lld bytes, %.3f bits per level-%d pixel\n",
                 (long long)r.coded_bytes, r.pyramid_bpp(), r.top_level);
        s += line;
    }
    snprintf(line, sizeof line,
             "minimap %lld bytes; all files %lld bytes (%.1f MiB) in %.1f s on %d threads\n",
             (long long)r.minimap_bytes, (long long)r.files_bytes,
             double(r.files_bytes) / (1024.0 * 1024.0), r.seconds, r.threads);
    s += line;
    return s;
}

std::string format_report_tsv(const BuildReport& r, int quality, bool header) {
    std::string s;
    char line[240];
    if (header)
        s += "quality\tlevel\tpixels\tbytes\tbpp\tpsnr_db\tseconds\tseam_border\tseam_middle\n";
    auto row = [&](const char* level, int64_t pixels, int64_t bytes, double psnr,
                   const SeamStats& seams) {
        const double bpp = pixels ? 8.0 * double(bytes) / double(pixels) : 0.0;
        char ps[32];
        if (std::isinf(psnr))
            snprintf(ps, sizeof ps, "inf");
        else
            snprintf(ps, sizeof ps, "%.4f", psnr);
        snprintf(line, sizeof line, "%d\t%s\t%lld\t%lld\t%.5f\t%s\t%.2f\t%.4f\t%.4f\n", quality,
                 level, (long long)pixels, (long long)bytes, bpp, ps, r.seconds, seams.border(),
                 seams.middle());
        s += line;
    };
    for (int l = 1; l <= 5; ++l) {
        const LevelReport& v = r.level[l];
        if (v.pixels == 0) continue;
        row(std::to_string(l).c_str(), v.pixels, v.bytes,
            l == 1 ? std::numeric_limits<double>::infinity() : v.psnr(), v.seams);
    }
    if (r.top_level > 0) {
        const LevelReport& t = r.level[r.top_level];
        row("all", t.pixels, r.coded_bytes,
            r.top_level == 1 ? std::numeric_limits<double>::infinity() : t.psnr(), t.seams);
    }
    return s;
}

}  // namespace builder
