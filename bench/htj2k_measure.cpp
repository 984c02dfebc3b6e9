// Measures the HTJ2K tile coder candidate against JPEG 2000 as OpenJPEG codes a whole picture.
//
//   quorvik-htj2k-measure WORK PHOTO.ppm...
//
// For each photograph (8-bit RGB PPM, read whole) and each tile size (256, 512, 1024), every
// tile is coded on its own by encoder/htj2k_encode.h (five decompositions, 64x64 blocks) at each
// of a row of fixed quantisation steps, and decoded by decoder/htj2k_decode.h on this thread:
// bits per pixel (all tiles' codestreams), RGB PSNR of the whole picture, encode and decode
// speed (full resolution and one level fewer). Then OpenJPEG (opj_compress -I -n 6, one piece
// and 1024 x 1024 tiles) codes the photograph at the byte counts of the 512-pixel tiles, through
// its command-line tools with files in WORK. Last, the rate-distortion choice: each tile takes
// the step that minimises its squared error + lambda * bits, one lambda for the picture, and the
// lambdas sweep out a curve. Tables (tab-separated, one header line each) go to stdout; gaps at
// equal rate are interpolated in log bpp on the OpenJPEG one-piece curve.
#include <algorithm>
#include <cctype>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "decoder/htj2k_decode.h"
#include "encoder/htj2k_encode.h"

namespace {

// Speeds are in this thread's CPU time: the machine is shared, and time spent waiting for a core
// says nothing about the coder.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
    }
};

struct Image {
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
};

// The next number of a PPM header, past whitespace and comment lines.
bool ppm_number(std::istream& f, int& v) {
    for (int c = f.peek(); c != EOF; c = f.peek()) {
        if (c == '#') {
            std::string line;
            std::getline(f, line);
        } else if (std::isspace(c)) {
            f.get();
        } else {
            break;
        }
    }
    return bool(f >> v);
}

bool read_ppm(const std::string& path, Image& im) {
    std::ifstream f(path, std::ios::binary);
    char magic[2] = {};
    int maxval = 0;
    if (!f.read(magic, 2) || magic[0] != 'P' || magic[1] != '6' || !ppm_number(f, im.w) ||
        !ppm_number(f, im.h) || !ppm_number(f, maxval) || maxval != 255 || im.w < 1 || im.h < 1)
        return false;
    f.get();  // the one whitespace byte before the samples
    im.rgb.resize(size_t(im.w) * size_t(im.h) * 3);
    return bool(f.read(reinterpret_cast<char*>(im.rgb.data()), std::streamsize(im.rgb.size())));
}

double psnr(double sse, double samples) {
    return sse <= 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / sse);
}

double seconds_since(Clock::time_point t) {
    return Clock::now() - t;
}

// Squared error of a w x h block against the picture at (x0, y0).
double block_sse(const Image& im, int x0, int y0, int w, int h, const uint8_t* got) {
    double sse = 0;
    for (int y = 0; y < h; ++y) {
        const uint8_t* a = &im.rgb[(size_t(y0 + y) * im.w + x0) * 3];
        const uint8_t* b = got + size_t(y) * w * 3;
        for (int i = 0; i < w * 3; ++i) sse += double(a[i] - b[i]) * (a[i] - b[i]);
    }
    return sse;
}

struct Point {
    double bpp, psnr;
};

// PSNR of a curve at `bpp`, linear in log bpp between its points; NaN outside it.
double psnr_at(std::vector<Point> curve, double bpp) {
    std::sort(curve.begin(), curve.end(),
              [](const Point& a, const Point& b) { return a.bpp < b.bpp; });
    for (size_t i = 0; i + 1 < curve.size(); ++i)
        if (bpp >= curve[i].bpp && bpp <= curve[i + 1].bpp) {
            const double t =
                std::log(bpp / curve[i].bpp) / std::log(curve[i + 1].bpp / curve[i].bpp);
            return curve[i].psnr + t * (curve[i + 1].psnr - curve[i].psnr);
        }
    return NAN;
}

struct TileStats {
    std::vector<double> bytes, sse;  // per step
};

struct HtRun {
    int tile;
    std::vector<Point> fixed;      // per step
    std::vector<TileStats> tiles;  // per tile
};

const float kSteps[] = {0.0045f, 0.0065f, 0.01f, 0.015f, 0.022f, 0.033f, 0.05f, 0.075f};
constexpr int kStepCount = sizeof kSteps / sizeof kSteps[0];
constexpr int kLevels = 5;

HtRun measure_htj2k(const std::string& name, const Image& im, int tile) {
    HtRun run{tile, {}, {}};
    const int tx = (im.w + tile - 1) / tile, ty = (im.h + tile - 1) / tile;
    run.tiles.resize(size_t(tx) * ty);
    const double pixels = double(im.w) * im.h;
    std::vector<std::vector<uint8_t>> coded(run.tiles.size());
    std::vector<uint8_t> out(size_t(tile) * tile * 3);
    for (int s = 0; s < kStepCount; ++s) {
        Htj2kEncodeParams p;
        p.levels = kLevels;
        p.qstep = kSteps[s];
        const Clock::time_point t0 = Clock::now();
        double bytes = 0;
        for (int j = 0; j < ty; ++j)
            for (int i = 0; i < tx; ++i) {
                const int w = std::min(tile, im.w - i * tile), h = std::min(tile, im.h - j * tile);
                const uint8_t* src = &im.rgb[(size_t(j) * tile * im.w + size_t(i) * tile) * 3];
                std::string error;
                if (!encode_htj2k(src, size_t(im.w) * 3, w, h, p, coded[j * tx + i], &error)) {
                    fprintf(stderr, "encode failed: %s\n", error.c_str());
                    exit(1);
                }
                bytes += coded[j * tx + i].size();
            }
        const double encode_s = seconds_since(t0);
        // Decode: once for the error, then again until a third of a second has passed; the
        // fastest pass counts.
        double sse = 0, decode_mpxs[2] = {0, 0};
        for (int skip = 0; skip < 2; ++skip) {
            int reps = 0;
            double fastest = 1e9;
            const Clock::time_point t1 = Clock::now();
            do {
                const Clock::time_point pass = Clock::now();
                for (int j = 0; j < ty; ++j)
                    for (int i = 0; i < tx; ++i) {
                        const int w = std::min(tile, im.w - i * tile);
                        const int h = std::min(tile, im.h - j * tile);
                        const std::vector<uint8_t>& cs = coded[j * tx + i];
                        const int ow = htj2k_reduced_side(w, skip);
                        std::string error;
                        if (!decode_htj2k(cs.data(), cs.size(), w, h, skip, out.data(),
                                          size_t(ow) * 3, 3, &error)) {
                            fprintf(stderr, "decode failed: %s\n", error.c_str());
                            exit(1);
                        }
                        if (skip == 0 && reps == 0) {
                            const double e = block_sse(im, i * tile, j * tile, w, h, out.data());
                            TileStats& t = run.tiles[j * tx + i];
                            t.bytes.push_back(double(cs.size()));
                            t.sse.push_back(e);
                            sse += e;
                        }
                    }
                fastest = std::min(fastest, seconds_since(pass));
                ++reps;
            } while (seconds_since(t1) < 0.33 || reps < 3);
            // Pixels decoded per second, counted at the output's resolution.
            const double out_pixels = pixels / double(1 << (2 * skip));
            decode_mpxs[skip] = out_pixels / fastest / 1e6;
        }
        const Point pt{bytes * 8 / pixels, psnr(sse, pixels * 3)};
        run.fixed.push_back(pt);
        printf("htj2k\t%s\t%d\t%.4f\t%.0f\t%.4f\t%.2f\t%.1f\t%.1f\t%.1f\n", name.c_str(), tile,
               kSteps[s], bytes, pt.bpp, pt.psnr, pixels / encode_s / 1e6, decode_mpxs[0],
               decode_mpxs[1]);
        fflush(stdout);
    }
    return run;
}

// OpenJPEG at a compression ratio, through its tools; fills the point and returns the bytes.
double measure_openjpeg(const std::string& work, const std::string& ppm, const Image& im,
                        double ratio, bool tiled, Point& pt) {
    const std::string j2k = work + "/opj.j2k", back = work + "/opj.ppm";
    char cmd[2048];
    snprintf(cmd, sizeof cmd, "opj_compress -i '%s' -o '%s' -I -n 6 -r %.4f %s >/dev/null 2>&1",
             ppm.c_str(), j2k.c_str(), ratio, tiled ? "-t 1024,1024" : "");
    if (std::system(cmd) != 0) return -1;
    snprintf(cmd, sizeof cmd, "opj_decompress -i '%s' -o '%s' >/dev/null 2>&1", j2k.c_str(),
             back.c_str());
    if (std::system(cmd) != 0) return -1;
    Image got;
    std::ifstream f(j2k, std::ios::binary | std::ios::ate);
    const double bytes = double(f.tellg());
    if (!read_ppm(back, got) || got.w != im.w || got.h != im.h) return -1;
    const double sse = block_sse(im, 0, 0, im.w, im.h, got.rgb.data());
    const double pixels = double(im.w) * im.h;
    pt = {bytes * 8 / pixels, psnr(sse, pixels * 3)};
    return bytes;
}

// The curve of one lambda for all tiles, swept over lambdas.
std::vector<Point> rate_distortion_curve(const HtRun& run, double pixels) {
    std::vector<Point> curve;
    for (double lambda = 0.5; lambda < 1e5; lambda *= 1.25) {
        double bytes = 0, sse = 0;
        for (const TileStats& t : run.tiles) {
            int best = 0;
            for (int s = 1; s < kStepCount; ++s)
                if (t.sse[s] + lambda * 8 * t.bytes[s] < t.sse[best] + lambda * 8 * t.bytes[best])
                    best = s;
            bytes += t.bytes[best];
            sse += t.sse[best];
        }
        curve.push_back({bytes * 8 / pixels, psnr(sse, pixels * 3)});
    }
    return curve;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s WORK PHOTO.ppm...\n", argv[0]);
        return 2;
    }
    const std::string work = argv[1];
    printf(
        "table\tphoto\ttile\tqstep\tbytes\tbpp\tpsnr\tencode_mpx_s\tdecode_mpx_s\t"
        "decode_half_mpx_s\n");
    for (int a = 2; a < argc; ++a) {
        Image im;
        if (!read_ppm(argv[a], im)) {
            fprintf(stderr, "%s: not an 8-bit PPM\n", argv[a]);
            return 1;
        }
        std::string name = argv[a];
        name = name.substr(name.find_last_of('/') + 1);
        const double pixels = double(im.w) * im.h;
        std::vector<HtRun> runs;
        for (int tile : {256, 512, 1024}) runs.push_back(measure_htj2k(name, im, tile));

        std::vector<Point> whole, tiled;
        for (const Point& p : runs[1].fixed) {
            const double ratio = 24.0 / p.bpp;
            Point q;
            if (measure_openjpeg(work, argv[a], im, ratio, false, q) > 0) whole.push_back(q);
            printf("openjpeg\t%s\twhole\t%.3f\t-\t%.4f\t%.2f\n", name.c_str(), ratio, q.bpp,
                   q.psnr);
            if (measure_openjpeg(work, argv[a], im, ratio, true, q) > 0) tiled.push_back(q);
            printf("openjpeg\t%s\tt1024\t%.3f\t-\t%.4f\t%.2f\n", name.c_str(), ratio, q.bpp,
                   q.psnr);
            fflush(stdout);
        }
        // Gaps at equal rate against OpenJPEG in one piece: fixed steps, and one lambda.
        printf("gap\tphoto\ttile\tqstep\tbpp\tfixed_db\tlambda_db\n");
        for (const HtRun& run : runs) {
            const std::vector<Point> rd = rate_distortion_curve(run, pixels);
            for (int s = 0; s < kStepCount; ++s) {
                const Point& p = run.fixed[s];
                const double ref = psnr_at(whole, p.bpp);
                printf("gap\t%s\t%d\t%.4f\t%.4f\t%.2f\t%.2f\n", name.c_str(), run.tile, kSteps[s],
                       p.bpp, p.psnr - ref, psnr_at(rd, p.bpp) - ref);
            }
        }
        for (const Point& q : tiled)
            printf("gap\t%s\topj-t1024\t-\t%.4f\t%.2f\t-\n", name.c_str(), q.bpp,
                   q.psnr - psnr_at(whole, q.bpp));
        fflush(stdout);
    }
    return 0;
}
