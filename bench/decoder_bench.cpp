// Tile decoder benchmark: decode_tile as the renderer calls it, and its stages separately (the EZW
// passes with inflating, the inverse transform, the colour conversion), on tiles made by the
// encoder functions from synthetic residuals:
//   realistic: textured residuals, start thresholds 128..255, max_passes 7 (seven passes);
//   sparse:    faint residuals, only a few coefficients become significant;
//   zero:      records with threshold 0 (no pass; the transform of an all-zero plane);
// each with zlib-compressed and with stored dominant streams. Reports tiles/s and Mpx/s
// (4096 pixels per tile). Target: decode_tile >= 60 Mpx/s on one core.
//
// Beside it, in the same run, the one-file form's tile decoders (decode_qvk_tile) on a real
// photograph: the centre 2048 x 1024 of a mate-backgrounds picture at its own resolution, coded
// as the tool codes it (HTJ2K, 512-pixel tiles) at quality 60, denser and slower to decode than
// the default 43, and with the lossless coder in 64-pixel tiles; HTJ2K also with one to three
// resolution levels left out (the levels a file derives). Mpx/s counts the pixels decoded (at the
// reduced size when reduced) and, as "source Mpx/s", the stored tile's own pixels. Target: whole
// HTJ2K tiles at no fewer pixels a second than decode_tile's realistic tiles.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builder/row_source.h"
#include "decoder/colour.h"
#include "decoder/decode_tile.h"
#include "decoder/lifting.h"
#include "decoder/qvk_tile.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "encoder/qvk_tile_encode.h"
#include "render/kernels.h"
#include "store/data_set.h"

namespace {

constexpr int kTiles = 64;
constexpr int kMaxPasses = kDataSetPasses;
enum Kind { kRealistic = 0, kSparse = 1, kZero = 2 };
const char* const kKindNames[] = {"realistic", "sparse", "zero"};

// Three channel files (Y, Cb, Cr) of kTiles tiles each, in memory.
struct Corpus {
    struct Channel {
        TileSet set;
        std::vector<int32_t> index;
        std::vector<uint8_t> payload;
    };
    Channel ch[3];
    double bytes_per_tile = 0;
};

void residual_tile_rgb(std::mt19937& rng, Kind kind, float* r, float* g, float* b) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const float amp = kind == kRealistic ? 25.0f : 1.2f;
    const float noise = kind == kRealistic ? 4.0f : 0.6f;
    const float fx = 0.05f + 0.3f * std::fabs(u(rng)), fy = 0.05f + 0.3f * std::fabs(u(rng));
    const float edge = 20.0f * u(rng), ex = 64.0f * std::fabs(u(rng));
    for (int p = 0; p < 4096; ++p) {
        const int x = p % 64, y = p / 64;
        const float base = amp * std::sin(fx * float(x)) * std::cos(fy * float(y)) +
                           (kind == kRealistic && float(x) + 0.3f * float(y) > ex ? edge : 0.0f);
        r[p] = base + noise * u(rng);
        g[p] = 0.8f * base + noise * u(rng);
        b[p] = 0.6f * base + noise * u(rng);
    }
}

std::unique_ptr<Corpus> make_corpus(Kind kind, bool compressed) {
    build_scan_order();
    auto c = std::make_unique<Corpus>();
    std::mt19937 rng(1000 + kind);
    float rgb[3][4096], ycc[3][4096];
    for (int t = 0; t < kTiles; ++t) {
        residual_tile_rgb(rng, kind, rgb[0], rgb[1], rgb[2]);
        rgb_to_ycbcr(rgb[0], rgb[1], rgb[2], ycc[0], ycc[1], ycc[2], 4096);
        for (int k = 0; k < 3; ++k) {
            forward_wavelet(ycc[k]);
            EncodedChannel enc;
            const int T = kind == kZero ? 0 : 128 + int(rng() % 128);
            encode_channel(ycc[k], T, kMaxPasses, enc, nullptr);
            c->ch[k].index.push_back(int32_t(c->ch[k].payload.size()));
            append_record(c->ch[k].payload, enc, compressed);
        }
    }
    for (auto& ch : c->ch) {
        ch.set.header = TileSetHeader{};
        ch.set.header.compressed = compressed;
        ch.set.header.merged_w = 64 * kTiles;
        ch.set.header.merged_h = 64;
        ch.set.header.tiles_x = kTiles;
        ch.set.header.tiles_y = 1;
        ch.set.header.max_passes = kMaxPasses;
        ch.set.index = ch.index.data();
        ch.set.data = ch.payload.data();
        ch.set.data_len = int64_t(ch.payload.size());
        c->bytes_per_tile += double(ch.payload.size()) / kTiles;
    }
    return c;
}

Corpus& corpus(Kind kind, bool compressed) {
    static std::unique_ptr<Corpus> cache[3][2];
    auto& slot = cache[kind][compressed];
    if (!slot) slot = make_corpus(kind, compressed);
    return *slot;
}

void set_rates(benchmark::State& state, double tiles_per_iteration) {
    const double tiles = tiles_per_iteration * double(state.iterations());
    state.counters["tiles/s"] = benchmark::Counter(tiles, benchmark::Counter::kIsRate);
    state.counters["Mpx/s"] = benchmark::Counter(tiles * 4096 / 1e6, benchmark::Counter::kIsRate);
}

// Kernel tables by number: 0 reference, 1 SSE2, 2 AVX2, 3 AVX2 + BMI2 (the wide EZW scan);
// those this processor cannot run are left out.
constexpr int kTables = 4;
const char* const kTableNames[kTables] = {"reference", "sse2", "avx2", "avx2+bmi2"};
bool table_available(int n) {
    const CpuFeatures cpu = detect_cpu_features();
    switch (n) {
        case 0:
            return true;
        case 1:
            return cpu.sse2;
        case 2:
            return cpu.sse2 && cpu.avx2;
        default:
            return cpu.sse2 && cpu.avx2 && cpu.fast_bmi2;
    }
}
PixelKernels table(int n) {
    CpuFeatures cpu;
    cpu.sse2 = n >= 1;
    cpu.avx2 = n >= 2;
    cpu.fast_bmi2 = n >= 3;
    return kernels_for(cpu);
}

// Whole tile: three channel decodes, three inverse transforms, colour conversion.
void BM_DecodeTile(benchmark::State& state) {
    const Kind kind = Kind(state.range(0));
    const bool compressed = state.range(1) != 0;
    const PixelKernels saved_kernels = kernels();
    set_kernels(table(int(state.range(2))));
    Corpus& c = corpus(kind, compressed);
    const int sub = 0, level = 2;
    const ResidualLevel saved = residuals_level[sub][level];
    residuals_level[sub][level] = ResidualLevel{&c.ch[0].set, &c.ch[1].set, &c.ch[2].set};
    std::vector<uint8_t> pixels(16384);
    residual_tile.data = pixels.data();
    residual_tile.stride = 256;
    int t = 0;
    for (auto _ : state) {
        decode_tile(sub, level, t);
        benchmark::DoNotOptimize(residual_tile.data[t]);
        t = (t + 1) % kTiles;
    }
    residuals_level[sub][level] = saved;
    residual_tile.data = nullptr;
    state.counters["bytes/tile"] = c.bytes_per_tile;
    set_rates(state, 1);
    state.SetLabel(std::string(kKindNames[kind]) + (compressed ? "/zlib" : "/stored") + "/" +
                   kernels().name);
    set_kernels(saved_kernels);
}

// The EZW passes (with inflating) of the three channels of a tile: decoder 0 the reference, 1 the
// fast one with the plain eight-flag scan, 2 with the AVX2 + BMI2 32-flag scan.
const char* const kDecoderNames[3] = {"reference", "fast/plain", "fast/avx2_bmi2"};
DecodeChannelFn decoder(int n) {
    switch (n) {
        case 0:
            return decode_channel_record_reference;
#if defined(__x86_64__) && defined(__GNUC__)
        case 2:
            return decode_channel_record_wide;
#endif
        default:
            return decode_channel_record_plain;
    }
}

void BM_Passes(benchmark::State& state) {
    const Kind kind = Kind(state.range(0));
    const bool compressed = state.range(1) != 0;
    const DecodeChannelFn decode = decoder(int(state.range(2)));
    Corpus& c = corpus(kind, compressed);
    float plane[4096];
    int t = 0;
    for (auto _ : state) {
        for (const auto& ch : c.ch) {
            const uint8_t* rec = ch.set.data + ch.set.index[t];
            const size_t len = size_t(ch.set.data_len - ch.set.index[t]);
            decode(rec, len, compressed, kMaxPasses, plane, nullptr);
            benchmark::DoNotOptimize(plane[0]);
        }
        t = (t + 1) % kTiles;
    }
    set_rates(state, 1);
    state.SetLabel(std::string(kKindNames[kind]) + (compressed ? "/zlib" : "/stored") + "/" +
                   kDecoderNames[state.range(2)]);
}

// Inflating alone (the share of zlib data in the passes), three channels per tile.
void BM_Inflate(benchmark::State& state) {
    Corpus& c = corpus(Kind(state.range(0)), true);
    uint8_t out[4096];
    int t = 0;
    for (auto _ : state) {
        for (const auto& ch : c.ch) {
            const uint8_t* rec = ch.set.data + ch.set.index[t];
            const uint32_t dom_len = uint32_t(rec[1]) | uint32_t(rec[2]) << 8 |
                                     uint32_t(rec[3]) << 16 | uint32_t(rec[4]) << 24;
            uint32_t n = 0;
            inflate_dominant(rec + 9, dom_len, out, n);
            benchmark::DoNotOptimize(out[0]);
        }
        t = (t + 1) % kTiles;
    }
    set_rates(state, 1);
    state.SetLabel(kKindNames[state.range(0)]);
}

// Inverse transform of three planes (one tile).
void BM_InverseWavelet(benchmark::State& state) {
    const int set = int(state.range(0));
    const InverseWaveletFn fn = table(set).inverse_wavelet;
    std::mt19937 rng(5);
    std::vector<float> src(3 * 4096);
    for (float& v : src) v = float(int(rng() % 400) - 200);
    float planes[3][4096];
    for (auto _ : state) {
        for (int k = 0; k < 3; ++k) {
            std::memcpy(planes[k], src.data() + k * 4096, sizeof planes[k]);
            fn(planes[k]);
            benchmark::DoNotOptimize(planes[k][0]);
        }
    }
    set_rates(state, 1);
    state.SetLabel(kTableNames[set]);
}

// Colour conversion of one tile.
void BM_Colour(benchmark::State& state) {
    const int set = int(state.range(0));
    const ColourFn fn = table(set).ycbcr_to_rgb;
    std::mt19937 rng(6);
    float y[4096], cb[4096], cr[4096];
    for (int i = 0; i < 4096; ++i) {
        y[i] = float(int(rng() % 300) - 150) * 0.7f;
        cb[i] = float(int(rng() % 200) - 100) * 0.3f;
        cr[i] = float(int(rng() % 200) - 100) * 0.3f;
    }
    std::vector<uint8_t> out(16384);
    for (auto _ : state) {
        fn(y, cb, cr, out.data(), 256);
        benchmark::DoNotOptimize(out[0]);
    }
    set_rates(state, 1);
    state.SetLabel(kTableNames[set]);
}

// Kernel tables this processor can run; the transform and the colour conversion have no
// BMI2 form, so table 3 adds nothing for them.
std::vector<int> kernel_tables(bool with_bmi2) {
    std::vector<int> sets;
    for (int n = kTables - 1; n >= 0; --n)
        if (table_available(n) && (with_bmi2 || n != 3)) sets.push_back(n);
    return sets;
}

// A picture's tiles, coded once: a 2048 x 1024 crop in tile x tile tiles. Picture 0 is a
// photograph, 1 the procedural world (sub-image A1's pixels from (4096, 4096)), whose HTJ2K
// tiles carry the restoration filter.
struct QvkCorpus {
    int tile = 0;
    uint32_t coder = 0;
    std::vector<std::vector<uint8_t>> tiles;
    std::string picture;
};

// Rows [0, y0 + H) of `src` and the W x H crop at (x0, y0) of them into `rgb`: the source is read
// sequentially, from the top.
void crop(builder::RowSource& src, uint32_t x0, uint32_t y0, uint32_t W, uint32_t H,
          std::vector<uint8_t>& rgb) {
    const size_t stride = size_t(src.width()) * 3;
    std::vector<uint8_t> rows(stride * (y0 + H));
    src.rows(0, y0 + H, rows.data(), stride);
    for (uint32_t y = 0; y < H; ++y)
        memcpy(&rgb[size_t(y) * W * 3], &rows[size_t(y0 + y) * stride + size_t(x0) * 3], W * 3);
}

const QvkCorpus& qvk_corpus(uint32_t coder, int picture) {
    static QvkCorpus corpora[3][2];
    QvkCorpus& c = corpora[coder][picture];
    if (!c.tiles.empty()) return c;
    constexpr uint32_t W = 2048, H = 1024;
    std::vector<uint8_t> rgb(size_t(W) * H * 3);
    c.picture = "synthetic";
    if (picture == 1) {
        crop(*builder::make_world_rows(1, 16384, 16385), 4096, 4096, W, H, rgb);
        c.picture = "world";
    }
    for (const char* name : {"/usr/share/backgrounds/mate/nature/Garden.jpg",
                             "/usr/share/backgrounds/mate/nature/Aqua.jpg"}) {
        if (picture != 0) break;
        try {
            std::unique_ptr<builder::RowSource> src = builder::make_image_rows(name);
            if (src->width() < W || src->height() < H) continue;
            crop(*src, (src->width() - W) / 2, (src->height() - H) / 2, W, H, rgb);
            c.picture = name;
            break;
        } catch (const std::exception& e) {
            fprintf(stderr, "%s\n", e.what());  // then the next, or a synthetic picture
        }
    }
    if (c.picture == "synthetic") {
        std::mt19937 rng(7);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] = uint8_t(128 + 60 * std::sin(double(i % (W * 3)) / 97.0) + rng() % 16);
    }
    c.coder = coder;
    c.tile = coder == uint32_t(QvkCoder::htj2k) ? 512 : 64;
    for (uint32_t y = 0; y < H; y += uint32_t(c.tile))
        for (uint32_t x = 0; x < W; x += uint32_t(c.tile)) {
            c.tiles.emplace_back();
            if (!encode_qvk_tile(coder, 60, &rgb[(size_t(y) * W + x) * 3], size_t(W) * 3, c.tile,
                                 c.tile, c.tile, c.tiles.back()))
                abort();
        }
    return c;
}

// One whole stored tile per iteration, cycling through the crop's tiles.
void BM_QvkTile(benchmark::State& state) {
    const uint32_t coder = uint32_t(state.range(0));
    const int reduce = int(state.range(1));
    const QvkCorpus& c = qvk_corpus(coder, int(state.range(2)));
    const int side = c.tile >> reduce;
    std::vector<uint8_t> out(size_t(side) * size_t(side) * 4);
    size_t i = 0, bytes = 0;
    for (auto _ : state) {
        const std::vector<uint8_t>& t = c.tiles[i++ % c.tiles.size()];
        bytes += t.size();
        if (!decode_qvk_tile_reduced(coder, t.data(), t.size(), c.tile, c.tile, c.tile, reduce,
                                     out.data(), size_t(side) * 4))
            state.SkipWithError("a tile did not decode");
        benchmark::DoNotOptimize(out.data());
    }
    const double n = double(state.iterations());
    state.counters["Mpx/s"] =
        benchmark::Counter(n * side * side / 1e6, benchmark::Counter::kIsRate);
    state.counters["source Mpx/s"] =
        benchmark::Counter(n * c.tile * c.tile / 1e6, benchmark::Counter::kIsRate);
    state.counters["bpp"] = 8.0 * double(bytes) / (n * c.tile * c.tile);
    state.SetLabel(c.picture);
}

void decode_tile_args(benchmark::internal::Benchmark* b) {
    for (int kind : {kRealistic, kSparse, kZero})
        for (int compressed : {1, 0})
            for (int set : kernel_tables(true)) b->Args({kind, compressed, set});
}
void passes_args(benchmark::internal::Benchmark* b) {
    for (int kind : {kRealistic, kSparse})
        for (int compressed : {1, 0})
            for (int n : {2, 1, 0})
                if (n != 2 || table_available(3)) b->Args({kind, compressed, n});
}
void kernel_args(benchmark::internal::Benchmark* b) {
    for (int set : kernel_tables(false)) b->Arg(set);
}

BENCHMARK(BM_DecodeTile)->Apply(decode_tile_args)->ArgNames({"kind", "zlib", "kernels"});
BENCHMARK(BM_Passes)->Apply(passes_args)->ArgNames({"kind", "zlib", "decoder"});
BENCHMARK(BM_Inflate)->Arg(kRealistic)->Arg(kSparse)->ArgNames({"kind"});
BENCHMARK(BM_InverseWavelet)->Apply(kernel_args)->ArgNames({"kernels"});
BENCHMARK(BM_Colour)->Apply(kernel_args)->ArgNames({"kernels"});
BENCHMARK(BM_QvkTile)
    ->Args({int(QvkCoder::htj2k), 0, 0})
    ->Args({int(QvkCoder::htj2k), 1, 0})
    ->Args({int(QvkCoder::htj2k), 2, 0})
    ->Args({int(QvkCoder::htj2k), 3, 0})
    ->Args({int(QvkCoder::htj2k), 0, 1})
    ->Args({int(QvkCoder::deflate_rgb), 0, 0})
    ->ArgNames({"coder", "reduce", "picture"});

}  // namespace

BENCHMARK_MAIN();
