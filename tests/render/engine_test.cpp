// The render engine against the viewer's single-threaded tile path: frames with 1, 2 and 8
// threads, with and without the tile cache, equal the reference frame pixel for pixel on every
// kind of view; the cache never serves a tile made under the other residual setting; prefetching
// fills the cache with a flight's next tiles; the kernel switch reaches every kernel.
//
// The data set is the fixture's, with real EZW records (sparse and dense, stored and zlib files)
// in every tile the views show, so that decoding, prediction and residual addition all matter.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "app/console.h"
#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "decoder/colour.h"
#include "decoder/decode_tile.h"
#include "decoder/lifting.h"
#include "decoder/scan_order.h"
#include "encoder/encoder.h"
#include "render/engine.h"
#include "render/kernels.h"
#include "render/prefetch.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/synth.h"
#include "render/view.h"
#include "store/data_set.h"
#include "tests/render/render_test_util.h"
#include "tests/support/fixture.h"

namespace {

struct View {
    const char* what;
    int w, h;
    float x, y, z;
    int bilinear, residuals, hiqu;
};
const View kViews[] = {
    {"level 1 across four sub-images", 512, 512, 49152, 4000, 16384, 1, 1, 0},
    {"level 1, image edge on fractions", 301, 203, -16380, 200000, -16000, 1, 1, 0},
    {"level 2", 512, 512, 40000, 3000, 10000, 1, 1, 0},
    {"level 3, nearest, top edge", 333, 517, 30000, 2000, -16000, 0, 1, 0},
    {"level 4, left edge, no residuals", 640, 480, -16000, 1000, 20000, 1, 0, 0},
    {"level 5 on a sub-image border", 701, 301, 48152, 150, 16000, 1, 1, 0},
    {"always finest", 256, 256, 10000, 1200, 10000, 1, 1, 1},
    {"portrait, bottom-right corner", 160, 900, 114000, 500, 48900, 1, 1, 0},
    {"below height 100", 300, 300, 60000, 40, 20000, 1, 1, 0},
    {"outside the image", 200, 200, -60000, 800, -40000, 1, 1, 0},
};

void apply(const View& v) {
    set_frame(v.w, v.h);
    viewer_settings.bilinIpol = v.bilinear;
    viewer_settings.compressedResidue = v.residuals;
    viewer_settings.hiqu = v.hiqu;
    place_camera(v.x, v.y, v.z);
    build_view_matrix();
}

// The frame as the viewer's single-threaded path defines it: clear, then each tile of the range
// in order through decode_tile, synthesise_tile, add_residual and draw_tile, with the reference
// kernels everywhere.
std::vector<uint32_t> reference_frame(const View& v) {
    apply(v);
    const PixelKernels saved = kernels();
    force_reference_kernels(true);
    memset(frame_buffer, 0, size_t(frame_width) * frame_height * 4);
    if (ipos->y < 100.0f) ipos->y = 100.0f;
    current_level = choose_level(ipos->y);
    current_scale = level_scale[current_level];
    if (compute_view_rect(ipos->y, ipos->x, ipos->z, *istr, *iup, *ifor, half_width_factor,
                          half_height_factor, current_scale, view_rect)) {
        if (current_level == 1) {
            draw_base_level_plain();
        } else {
            const int across = level_merged_size(current_level) / 64;
            const TileRange r = compute_tile_range(view_rect);
            for (int tz = std::max(r.tz0, 0); tz < std::min(r.tz1, 2 * across); ++tz)
                for (int tx = std::max(r.tx0, 0); tx < std::min(r.tx1, 4 * across); ++tx) {
                    const WorldTile w = locate_world_tile(tx, tz, across, across);
                    if (viewer_settings.compressedResidue)
                        decode_tile(w.sub, current_level, w.index);
                    add_residual_plain(synthesise_tile(w.sub, w.tc, w.tr, current_level));
                    draw_tile_plain(tx, tz);
                }
        }
    }
    set_kernels(saved);
    return frame_copy();
}

// A frame through render_view, drawn over a frame full of garbage, so that a pixel the engine
// forgets to clear or draw shows.
std::vector<uint32_t> engine_frame(const View& v) {
    apply(v);
    for (int i = 0; i < frame_width * frame_height; ++i)
        frame_buffer[i] = 0xA5C3E1F7u ^ uint32_t(i);
    render_view();
    return frame_copy();
}

size_t differing(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    size_t n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += a[i] != b[i];
    return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

// A pool of tile codes made once with the encoder: three channels each, from smooth random
// residuals of several strengths (a few coefficients, or thousands).
struct CodePool {
    std::vector<EncodedChannel> channels[3];
    CodePool() {
        std::mt19937 rng(77);
        for (int k = 0; k < 12; ++k) {
            float rgb[3][kTileCoeffs], ycc[3][kTileCoeffs];
            const float amplitude = float(4 << (k % 5));
            const float fx = 0.05f + 0.02f * float(k), fy = 0.11f - 0.007f * float(k);
            for (int p = 0; p < kTileCoeffs; ++p) {
                const int x = p % 64, y = p / 64;
                for (int c = 0; c < 3; ++c)
                    rgb[c][p] = amplitude * std::sin(fx * float(x + 7 * c) + fy * float(y)) +
                                float(int(rng() % 9) - 4) * float(k % 3);
            }
            rgb_to_ycbcr(rgb[0], rgb[1], rgb[2], ycc[0], ycc[1], ycc[2], kTileCoeffs);
            for (int c = 0; c < 3; ++c) {
                forward_wavelet(ycc[c]);
                EncodedChannel ch;
                encode_channel(ycc[c], 128 + int(rng() % 128), kDataSetPasses, ch, nullptr);
                channels[c].push_back(ch);
            }
        }
    }
};

// The fixture data set with real records in the tiles of `coded` (sub-image, level) -> tile
// slots; levels 3 and 5 are zlib files.
void write_coded_data_set(const std::string& dir,
                          const std::map<std::pair<int, int>, std::set<int>>& coded) {
    write_fixture_data_set(dir);
    static const CodePool pool;
    for (const auto& [where, slots] : coded) {
        const int sub = where.first, level = where.second;
        const bool compressed = level % 2 == 1;
        const int side = level_merged_size(level);
        for (int c = 0; c < 3; ++c) {
            Bytes file;
            append_tile_file_header(file, compressed, side, side, kDataSetPasses);
            const int tiles = (side / 64) * (side / 64);
            for (int t = 0; t < tiles; ++t) {
                EncodedChannel empty;
                const EncodedChannel& ch =
                    slots.count(t) ? pool.channels[c][size_t(t * 7 + sub + level) % 12] : empty;
                append_record(file, ch, compressed);
            }
            write_file(dir + "/ezw_data/" + tile_file_name(sub, level, "RGB"[c]), file);
        }
    }
}

class Engine : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        load_fixture_once();  // camera, scan order, work images, level scales
        // The tiles every view shows (and a flight's, for the prefetch test), from the plain
        // fixture's geometry, then the data set with real records in exactly those.
        std::map<std::pair<int, int>, std::set<int>> coded;
        auto add_view = [&](float x, float y, float z, int w, int h, bool hiqu) {
            set_frame(w, h);
            place_camera(x, y < 100 ? 100 : y, z);
            const FrameView v = plan_view(x, y < 100 ? 100 : y, z, *istr, *iup, *ifor,
                                          half_width_factor, half_height_factor, hiqu, viewer_data);
            std::vector<TileJob> jobs;
            view_tile_jobs(v, true, jobs);
            for (const TileJob& j : jobs) coded[{j.sub, j.level}].insert(j.index);
        };
        for (const View& v : kViews) add_view(v.x, v.y, v.z, v.w, v.h, v.hiqu != 0);
        for (int k = 0; k <= 30; ++k)
            add_view(kFlightX + 300.0f * float(k), 700, kFlightZ, 320, 240, false);
        const std::string dir = make_temp_dir("quorvik-engine");
        write_coded_data_set(dir, coded);
        FILE* saved = console_out;
        console_out = fopen("/dev/null", "w");
        DataSet data;
        const LoadError e = read_data_set(dir + "/ezw_data", data);
        fclose(console_out);
        console_out = saved;
        remove_tree(dir);
        ASSERT_FALSE(bool(e)) << e.describe();
        pack_base_textures(data);
        viewer_data = std::move(data);
    }
    void SetUp() override { saved_settings_ = viewer_settings; }
    void TearDown() override {
        viewer_settings = saved_settings_;
        render_engine().configure(0, kDefaultCacheBytes);
        force_reference_kernels(false);
    }
    static constexpr float kFlightX = 20000.0f, kFlightZ = 12000.0f;
    ViewerSettings saved_settings_;
};

TEST_F(Engine, FramesEqualTheReferenceForAnyThreadsWithAndWithoutTheCache) {
    for (const View& v : kViews) {
        SCOPED_TRACE(v.what);
        const std::vector<uint32_t> want = reference_frame(v);
        for (int threads : {1, 2, 8}) {
            for (size_t cache : {size_t(0), kDefaultCacheBytes}) {
                render_engine().configure(threads, cache);
                EXPECT_EQ(differing(engine_frame(v), want), 0u)
                    << threads << " threads, cache " << cache;
                // Again: with the cache on, from cached tiles only.
                const uint64_t misses = render_engine().cache().misses();
                EXPECT_EQ(differing(engine_frame(v), want), 0u)
                    << threads << " threads, cache " << cache << ", repeated";
                if (cache) {
                    EXPECT_EQ(render_engine().cache().misses(), misses);
                }
            }
        }
    }
}

// The reference kernels keep their working storage per thread, so they too can make tiles on
// every thread at once (the ThreadSanitizer build runs this).
TEST_F(Engine, ReferenceKernelsOnManyThreadsDrawTheReferenceFrame) {
    for (const View& v : {kViews[5], kViews[7]}) {
        SCOPED_TRACE(v.what);
        const std::vector<uint32_t> want = reference_frame(v);
        render_engine().configure(8, 0);
        force_reference_kernels(true);
        EXPECT_EQ(differing(engine_frame(v), want), 0u);
        force_reference_kernels(false);
    }
}

TEST_F(Engine, ResidualSwitchNeverServesATileMadeUnderTheOtherSetting) {
    View on = kViews[5], off = kViews[5];
    off.residuals = 0;
    const std::vector<uint32_t> want_on = reference_frame(on), want_off = reference_frame(off);
    ASSERT_GT(differing(want_on, want_off), 1000u) << "the residuals must show in this view";
    render_engine().configure(2, kDefaultCacheBytes);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(differing(engine_frame(on), want_on), 0u) << round;
        EXPECT_EQ(differing(engine_frame(off), want_off), 0u) << round;
    }
    // Both settings' tiles are held side by side.
    EXPECT_EQ(render_engine().cache().size(), size_t(2 * tiles_drawn));
}

TEST_F(Engine, ASmallCacheStaysWithinItsBudgetAndFramesStayRight) {
    const View& v = kViews[6];  // 64 tiles at level 5
    const std::vector<uint32_t> want = reference_frame(v);
    const size_t budget = 10 * TileCache::kEntryBytes + 100;
    render_engine().configure(2, budget);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(differing(engine_frame(v), want), 0u);
        EXPECT_LE(render_engine().cache().bytes(), budget);
        EXPECT_EQ(render_engine().cache().size(), 10u);
    }
}

TEST_F(Engine, KernelSwitchReachesEveryKernel) {
    force_reference_kernels(true);
    EXPECT_TRUE(reference_kernels_forced());
    const PixelKernels& k = kernels();
    EXPECT_STREQ(k.name, "reference");
    EXPECT_EQ(k.decode_channel, decode_channel_record_reference);
    EXPECT_EQ(k.inverse_wavelet, inverse_wavelet_reference);
    EXPECT_EQ(k.ycbcr_to_rgb, ycbcr_to_rgb_tile_reference);
    EXPECT_EQ(k.upsample_step, upsample_step_plain);
    EXPECT_EQ(k.add_residual, add_residual_tile_plain);
    EXPECT_EQ(k.draw_tile, draw_tile_rows_plain);
    EXPECT_EQ(k.draw_base, draw_base_rows_plain);
    force_reference_kernels(false);
    EXPECT_FALSE(reference_kernels_forced());
    const PixelKernels best = kernels_for(detect_cpu_features());
    EXPECT_EQ(std::memcmp(&kernels(), &best, sizeof best), 0);
#if defined(__x86_64__)
    // On this processor every entry has a faster form than the reference.
    const PixelKernels ref = reference_kernels();
    EXPECT_NE(best.decode_channel, ref.decode_channel);
    EXPECT_NE(best.inverse_wavelet, ref.inverse_wavelet);
    EXPECT_NE(best.ycbcr_to_rgb, ref.ycbcr_to_rgb);
    EXPECT_NE(best.upsample_step, ref.upsample_step);
    EXPECT_NE(best.add_residual, ref.add_residual);
    EXPECT_NE(best.draw_tile, ref.draw_tile);
    EXPECT_NE(best.draw_base, ref.draw_base);
#endif
}

// A flight's next frames are made into the cache while the frame loop is idle: afterwards those
// frames find every tile cached, and they are still the reference frames.
TEST_F(Engine, PrefetchingFillsTheCacheWithTheFlightsNextTiles) {
    render_engine().configure(2, kDefaultCacheBytes);
    set_frame(320, 240);
    viewer_settings = ViewerSettings{};
    const FlightView from{kFlightX, kFlightZ, 700.0f}, to{kFlightX + 9000.0f, kFlightZ, 700.0f};
    place_camera(from.x, from.height, from.z);
    FlightLookahead look{from,
                         to,
                         viewer_settings.zoompan,
                         viewer_settings.velocity,
                         viewer_settings.dt,
                         0,
                         *istr,
                         *iup,
                         *ifor,
                         half_width_factor,
                         half_height_factor,
                         false,
                         true};
    prefetch_flight(render_engine(), viewer_data, look, kernels());
    EXPECT_GT(render_engine().prefetch_pending(), 0u);
    // Frames drawn while the workers prefetch (each frame's job waits for at most one step)
    // share the cache with them and are still the reference frames.
    for (uint32_t ms : {0u, 80u}) {
        const FlightPoint p = flight_point(from, to, look.rho, look.velocity, look.dt, ms);
        const View v{"flight, during prefetching", 320, 240, p.x, p.y, p.z, 1, 1, 0};
        const std::vector<uint32_t> want = reference_frame(v);
        render_engine().cache().clear();
        prefetch_flight(render_engine(), viewer_data, look, kernels());
        EXPECT_EQ(differing(engine_frame(v), want), 0u) << ms << " ms";
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (render_engine().prefetch_pending() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(render_engine().prefetch_pending(), 0u);
    ASSERT_GT(render_engine().prefetched(), 0u);
    for (uint32_t ms = kLookaheadStepMs; ms <= 400; ms += kLookaheadStepMs) {
        const FlightPoint p = flight_point(from, to, look.rho, look.velocity, look.dt, ms);
        const View v{"flight", 320, 240, p.x, p.y, p.z, 1, 1, 0};
        const std::vector<uint32_t> want = reference_frame(v);
        render_engine().cache().reset_counts();
        EXPECT_EQ(differing(engine_frame(v), want), 0u) << ms << " ms";
        EXPECT_EQ(render_engine().cache().misses(), 0u) << ms << " ms";
        EXPECT_GT(render_engine().cache().hits(), 0u) << ms << " ms";
    }
}

}  // namespace
