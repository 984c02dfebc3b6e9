// Sampling, tile projection, level-1 drawing and the copy to the display surface.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/raster.h"
#include "render/render_buffers.h"
#include "render/view.h"
#include "store/data_set.h"
#include "tests/render/render_test_util.h"

namespace {

class SettingsGuard {
  public:
    SettingsGuard() : saved_(viewer_settings) {}
    ~SettingsGuard() { viewer_settings = saved_; }

  private:
    ViewerSettings saved_;
};

void clear_frame() {
    std::fill(frame_buffer, frame_buffer + size_t(frame_width) * frame_height, 0u);
}

uint32_t texel(int sub, int x, int y) {
    return reinterpret_cast<const uint32_t*>(base_tex_packed[sub].data)[y * 1024 + x];
}

void fill_final_tile(uint32_t (*rgb)(int x, int y)) {
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const uint32_t v = rgb(x, y);
            uint8_t* p = final_tile.data + y * final_tile.stride + x * 4;
            p[0] = uint8_t(v >> 16);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v);
        }
}

}  // namespace

TEST(LerpPixel, FloorsEachByteOnItsOwn) {
    EXPECT_EQ(lerp_pixel(0x00, 0xFF, 16383), 0x7Fu);
    EXPECT_EQ(lerp_pixel(0xFF, 0x00, 16383), 0x7Fu);
    EXPECT_EQ(lerp_pixel(10, 20, 32767), 19u);
    EXPECT_EQ(lerp_pixel(20, 10, 32767), 10u);
    EXPECT_EQ(lerp_pixel(0x00123456, 0x00FEDCBA, 0), 0x00123456u);
    // The four bytes at once: 0 -> 255, 255 -> 0, 10 -> 20, 20 -> 10 with the largest weight.
    EXPECT_EQ(lerp_pixel(0x000AFF00, 0x001400FF, 32767), 0x001300FEu);
    EXPECT_EQ(lerp_pixel(0x14000AFF, 0x0A001400, 32767), 0x0A001300u);
    // A negative weight (an image position just left of pixel 0) extrapolates and saturates.
    EXPECT_EQ(lerp_pixel(0x00000010, 0x000000F0, -16384), 0u);
}

TEST(ViewMatrix, StartPoseLooksStraightDown) {
    place_camera(0.0f, 1000.0f, 0.0f);
    set_frame(800, 600);
    build_view_matrix();
    EXPECT_EQ(view_matrix[0][0], 600.0f);  // focal_length * right.x
    EXPECT_NEAR(view_matrix[2][1], 600.0f, 1e-3);
    EXPECT_NEAR(view_matrix[1][2], -1.0f, 1e-6);
    EXPECT_NEAR(view_matrix[1][1], 0.0f, 1e-4);
}

TEST(DrawTile, NeighbouringTilesOverlapByAColumnAndTheLaterWins) {
    load_fixture_once();
    SettingsGuard guard;
    place_camera(0.0f, 1000.0f, 0.0f);
    set_frame(512, 512);
    build_view_matrix();
    current_scale = 4.0f;
    const TileCorners t62 = project_tile_corners(62, 62);
    EXPECT_NEAR(t62.sx0, -6.144, 1e-3);
    EXPECT_NEAR(t62.sx1, 125.428, 1e-3);
    EXPECT_NEAR(t62.sy0, -6.144, 1e-3);
    EXPECT_NEAR(project_tile_corners(63, 62).sx0, 124.928, 1e-3);

    viewer_settings.bilinIpol = 0;
    for (auto* draw : {draw_tile, draw_tile_plain}) {
        clear_frame();
        fill_final_tile([](int x, int) { return uint32_t(4 * x) << 16; });
        draw(62, 62);
        // Column 0 is the seventh column of the tile: u = 6 * du = 2.92, tile column 2.
        EXPECT_EQ(frame_buffer[10 * 512 + 0], 8u << 16);
        EXPECT_NE(frame_buffer[10 * 512 + 124], 0u);
        EXPECT_EQ(frame_buffer[10 * 512 + 125], 0u);
        EXPECT_NE(frame_buffer[125 * 512 + 10], 0u);  // last row iy1 is inclusive
        EXPECT_EQ(frame_buffer[126 * 512 + 10], 0u);
        fill_final_tile([](int, int) { return 0x0000C8u; });
        draw(63, 62);
        EXPECT_EQ(frame_buffer[10 * 512 + 124], 0x0000C8u);
        EXPECT_EQ(frame_buffer[10 * 512 + 123] >> 16, 4u * 62);  // u = 129 * du = 62.75
    }
}

TEST(DrawTile, FastFormMatchesThePlainOne) {
    load_fixture_once();
    SettingsGuard guard;
    std::mt19937 rng(5);
    for (int i = 0; i < 64 * 64 * 4; ++i) final_tile.data[i] = uint8_t(rng());
    struct Case {
        int w, h;
        float x, y, z, scale;
        int tx, tz;
    };
    const Case cases[] = {
        {512, 512, 0, 1000, 0, 4, 62, 62},
        {512, 512, 0, 1000, 0, 4, 65, 65},
        {300, 700, 123.4f, 101, 77.7f, 2, 8255, 8230},  // large tile, cut by all edges
        {911, 203, 5000, 620, -3000, 2, 10580, 6670},
        {640, 480, 0, 3000, 0, 16, 16, 16},
        {101, 101, 0, 1000, 0, 4, 60, 63},
        {512, 512, 0, 1000, 0, 4, 70, 62},  // off screen
    };
    for (const Case& c : cases) {
        place_camera(c.x, c.y, c.z);
        set_frame(c.w, c.h);
        build_view_matrix();
        current_scale = c.scale;
        for (int bilinear : {0, 1}) {
            viewer_settings.bilinIpol = bilinear;
            clear_frame();
            draw_tile_plain(c.tx, c.tz);
            const auto plain = frame_copy();
            clear_frame();
            draw_tile(c.tx, c.tz);
            EXPECT_EQ(frame_copy(), plain) << "tile " << c.tx << "," << c.tz << " bilinear "
                                           << bilinear << " " << c.w << "x" << c.h;
        }
    }
}

TEST(DrawBaseLevel, WeightsRepeatPerSubImageAndEdgesAreLookedUp) {
    load_fixture_once();
    SettingsGuard guard;
    viewer_settings.bilinIpol = 1;
    set_frame(2, 2);
    for (auto* draw : {draw_base_level, draw_base_level_plain}) {
        // x = 1024.25 is pixel 0 of sub-image column 1 with weight trunc(0.25 * 32767) = 8191,
        // like x = 0.25 in column 0; rows at whole positions take the upper pair only.
        view_rect = ViewRect{1024.25f, 10.0f, 0.25f, 11.0f};
        clear_frame();
        draw();
        EXPECT_EQ(frame_buffer[0],
                  lerp_pixel(lerp_pixel(texel(1, 0, 10), texel(1, 1, 10), 8191),
                             lerp_pixel(texel(1, 0, 11), texel(1, 1, 11), 8191), 0));
        EXPECT_EQ(frame_buffer[1],
                  lerp_pixel(lerp_pixel(texel(0, 0, 10), texel(0, 1, 10), 8191),
                             lerp_pixel(texel(0, 0, 11), texel(0, 1, 11), 8191), 0));
        // The last column and row of a texture are never blended with the neighbour.
        view_rect = ViewRect{1023.5f, 1023.5f, 2047.5f, 500.5f};
        clear_frame();
        draw();
        EXPECT_EQ(frame_buffer[0], texel(0, 1023, 1023));
        EXPECT_EQ(frame_buffer[1], texel(1, 1023, 1023));
        // Outside the four by two sub-images nothing is drawn.
        view_rect = ViewRect{-2.0f, -5.0f, 4096.5f, 2048.0f};
        clear_frame();
        draw();
        for (int i = 0; i < 4; ++i) EXPECT_EQ(frame_buffer[i], 0u) << i;
    }
}

TEST(DrawBaseLevel, FastFormMatchesThePlainOne) {
    load_fixture_once();
    SettingsGuard guard;
    const ViewRect rects[] = {
        {-0.76f, -0.9f, 300.3f, 200.1f},         // fractions left of and above pixel 0
        {1000.1f, 1000.7f, 1100.9f, 1070.2f},    // across four sub-images
        {-1077.0f, -2101.0f, 5173.0f, 4149.0f},  // the whole image, far away
        {4000.5f, 2000.5f, 4200.5f, 2100.5f},    // bottom-right edge
    };
    for (const ViewRect& r : rects) {
        for (auto [w, h] : {std::pair{512, 512}, std::pair{333, 101}}) {
            set_frame(w, h);
            view_rect = r;
            for (int bilinear : {0, 1}) {
                viewer_settings.bilinIpol = bilinear;
                clear_frame();
                draw_base_level_plain();
                const auto plain = frame_copy();
                clear_frame();
                draw_base_level();
                EXPECT_EQ(frame_copy(), plain) << r.x0 << "," << r.z0 << " " << w << "x" << h;
            }
        }
    }
}

TEST(PresentFrame, CopiesOnlyWhereTheSurfaceExists) {
    set_frame(5, 3);
    for (int i = 0; i < 15; ++i) frame_buffer[i] = 0x00010000u * (i + 1) + 7;
    constexpr uint8_t kSentinel = 0xAB;
    {  // rows that line up: one block
        std::vector<uint8_t> s(5 * 3 * 4 + 16, kSentinel);
        present_frame_words(s.data(), 20, 5, 3);
        EXPECT_EQ(0, memcmp(s.data(), frame_buffer, 60));
        EXPECT_EQ(s[60], kSentinel);
    }
    {  // pitch 4W + 8: rows land 28 bytes apart, the spare bytes untouched
        std::vector<uint8_t> s(28 * 3, kSentinel);
        present_frame_words(s.data(), 28, 5, 3);
        for (int y = 0; y < 3; ++y) {
            EXPECT_EQ(0, memcmp(&s[y * 28], frame_buffer + y * 5, 20));
            for (int k = 20; k < 28; ++k) EXPECT_EQ(s[y * 28 + k], kSentinel);
        }
    }
    {  // a smaller surface gets the overlap only
        std::vector<uint8_t> s(12 * 2 + 16, kSentinel);
        present_frame_words(s.data(), 12, 3, 2);
        for (int y = 0; y < 2; ++y) EXPECT_EQ(0, memcmp(&s[y * 12], frame_buffer + y * 5, 12));
        for (size_t k = 24; k < s.size(); ++k) EXPECT_EQ(s[k], kSentinel);
    }
}
