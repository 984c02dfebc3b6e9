#include "render/raster.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "app/frame_state.h"
#include "app/settings.h"
#include "camera/camera.h"
#include "render/kernels.h"
#include "render/picture.h"
#include "render/raster_internal.h"
#include "render/render_buffers.h"
#include "render/view.h"
#include "store/data_set.h"

using namespace raster;

float view_matrix[3][3];

void build_view_matrix() {
    const Vec4 r = *istr, u = *iup, f = *ifor;
    const float F = focal_length;
    const float rows[3][3] = {
        {F * r.x, F * u.x, f.x}, {F * r.y, F * u.y, f.y}, {F * r.z, F * u.z, f.z}};
    memcpy(view_matrix, rows, sizeof view_matrix);
}

uint32_t lerp_pixel(uint32_t a, uint32_t b, int weight) {
    uint32_t out = 0;
    for (int k = 0; k < 32; k += 8) {
        const int ak = int((a >> k) & 255), bk = int((b >> k) & 255);
        int v = ak + ((2 * (bk - ak) * weight) >> 16);
        v = v < 0 ? 0 : (v > 255 ? 255 : v);
        out |= uint32_t(v) << k;
    }
    return out;
}

TileCorners project_tile_corners(int tx, int tz) {
    const double s = current_scale;
    auto project = [&](int X, int Z, double half_w, double half_h, float& sx, float& sy) {
        const double ax = double(X) * s + picture_geometry.x0 - double(ipos->x);
        const double ay = -double(ipos->y);
        const double az = double(Z) * s + picture_geometry.z0 - double(ipos->z);
        const double cu = ax * view_matrix[0][0] + ay * view_matrix[1][0] + az * view_matrix[2][0];
        const double cv = ax * view_matrix[0][1] + ay * view_matrix[1][1] + az * view_matrix[2][1];
        const double cw = ax * view_matrix[0][2] + ay * view_matrix[1][2] + az * view_matrix[2][2];
        sx = float(cu / cw + half_w);
        sy = float(cv / cw + half_h);
    };
    TileCorners c;
    const int X0 = kTilePixels * tx, Z0 = kTilePixels * tz;
    // The far corner sits half a pixel further right and down, which makes neighbouring tiles
    // overlap by up to a column and never leave a gap.
    project(X0, Z0, frame_width / 2.0, frame_height / 2.0, c.sx0, c.sy0);
    project(X0 + kTilePixels, Z0 + kTilePixels, (frame_width + 1) / 2.0, (frame_height + 1) / 2.0,
            c.sx1, c.sy1);
    return c;
}

bool tile_screen_rect(const TileCorners& c, int width, int height, int& x0, int& x1, int& y0,
                      int& y1) {
    if (!corners_usable(c)) return false;
    const TileSpan s = tile_span(c);
    if (s.iy0 > s.iy1) return false;
    x0 = s.ix0 > 0 ? s.ix0 : 0;
    x1 = s.ix1 < width ? s.ix1 : width;
    y0 = s.iy0 > 0 ? s.iy0 : 0;
    y1 = s.iy1 < height ? s.iy1 + 1 : height;
    return x0 < x1 && y0 < y1;
}

void pack_tile_words(const uint8_t* tile, int stride, uint32_t* padded) {
    for (int y = 0; y < kTilePixels; ++y) {
        const uint8_t* src = tile + size_t(y) * stride;
        uint32_t* dst = padded + y * kPaddedTileStride;
        for (int x = 0; x < kTilePixels; ++x)
            dst[x] = uint32_t(src[4 * x]) << 16 | uint32_t(src[4 * x + 1]) << 8 | src[4 * x + 2];
        dst[64] = dst[63];
        dst[65] = dst[63];
    }
    memcpy(padded + 64 * kPaddedTileStride, padded + 63 * kPaddedTileStride,
           kPaddedTileStride * sizeof(uint32_t));
}

DrawScratch::~DrawScratch() {
    free(offset);
    free(weight);
    free(extra);
    free(wide);
    free(rows[0]);
    free(rows[1]);
    free(safe);
    free(special);
    free(texels);
}

bool DrawScratch::reserve(int n) {
    if (n <= capacity_) return true;
    auto grow = [](auto*& p, size_t count) {
        using T = std::remove_reference_t<decltype(*p)>;
        T* q = static_cast<T*>(realloc(p, count * sizeof(T)));
        if (!q) return false;
        p = q;
        memset(p, 0, count * sizeof(T));
        return true;
    };
    const size_t lanes = size_t(n + 4) * 4;
    if (!(grow(offset, size_t(n)) && grow(weight, size_t(n)) && grow(extra, size_t(n)) &&
          grow(wide, lanes) && grow(rows[0], lanes) && grow(rows[1], lanes) &&
          grow(safe, size_t(n)) && grow(special, size_t(n)) && grow(texels, size_t(n))))
        return false;
    capacity_ = n;
    return true;
}

void draw_tile_rows_plain(const FrameRows& f, const TileCorners& c, const uint32_t* tile,
                          bool bilinear, DrawScratch&) {
    if (!corners_usable(c)) return;
    const TileSpan s = tile_span(c);
    if (s.iy0 > s.iy1) return;
    auto T = [tile](int x, int y) { return tile[y * kPaddedTileStride + x]; };
    float v = 0.0f;
    for (int y = s.iy0; y <= s.iy1; ++y) {
        if (y >= f.y_begin && y < f.y_end) {
            float u = 0.0f;
            for (int x = s.ix0; x < s.ix1; ++x) {
                if (x >= 0 && x < f.width && y >= 0 && y < f.height) {
                    const int tu = clamp_tile(u), tv = clamp_tile(v);
                    uint32_t p;
                    if (!bilinear) {
                        p = T(tu, tv);
                    } else {
                        // Weights only where the fraction is below 1; a clamped position can lie
                        // far beyond the tile.
                        const int wu = tu < 63 ? weight_of(u, tu) : 0;
                        const int wv = tv < 63 ? weight_of(v, tv) : 0;
                        if (tu < 63 && tv < 63)
                            p = lerp_pixel(lerp_pixel(T(tu, tv), T(tu + 1, tv), wu),
                                           lerp_pixel(T(tu, tv + 1), T(tu + 1, tv + 1), wu), wv);
                        else if (tu < 63)
                            p = lerp_pixel(T(tu, tv), T(tu + 1, tv), wu);
                        else if (tv < 63)
                            p = lerp_pixel(T(tu, tv), T(tu, tv + 1), wv);
                        else
                            p = T(tu, tv);
                    }
                    f.pixels[size_t(y) * f.width + x] = p;
                }
                u += s.du;
            }
        }
        v += s.dv;
    }
}

void draw_base_rows_plain(const FrameRows& f, const ViewRect& r, const RawImage* textures,
                          bool bilinear, DrawScratch&) {
    const int W = f.width, H = f.height;
    const float dx = float((double(r.x1) - double(r.x0)) / (W - 1));
    const float dz = float((double(r.z1) - double(r.z0)) / (H - 1));
    float kz = 0.0f;
    for (int y = 0; y < H && y < f.y_end; ++y) {
        if (y >= f.y_begin) {
            float kx = 0.0f;
            for (int x = 0; x < W; ++x) {
                const float wx = r.x0 + kx, wz = r.z0 + kz;
                kx += dx;
                f.pixels[size_t(y) * W + x] = 0;  // black outside the image
                if (!inside_open(wx, kLevel1Width) || !inside_open(wz, kLevel1Height)) continue;
                const int ix = int(wx), iz = int(wz);
                const RawImage& t = textures[(ix >> 10) + 4 * (iz >> 10)];
                const int px = ix & 1023, pz = iz & 1023;
                if (px >= t.w || pz >= t.h) continue;
                auto at = [&](int x_, int z_) {
                    return reinterpret_cast<const uint32_t*>(t.data)[size_t(z_) * t.w + x_];
                };
                uint32_t pixel = at(px, pz);
                if (bilinear && px + 1 < t.w && pz + 1 < t.h) {
                    const int wu = weight_of(wx, ix), wv = weight_of(wz, iz);
                    const uint32_t top = lerp_pixel(at(px, pz), at(px + 1, pz), wu);
                    const uint32_t bottom = lerp_pixel(at(px, pz + 1), at(px + 1, pz + 1), wu);
                    pixel = lerp_pixel(top, bottom, wv);
                }
                f.pixels[size_t(y) * W + x] = pixel;
            }
        }
        kz += dz;
    }
}

// ---- The viewer's single-threaded forms ---------------------------------------------------------

namespace {

DrawScratch viewer_draw_scratch;
alignas(16) uint32_t viewer_padded_tile[kPaddedTileWords];

FrameRows whole_frame() {
    return FrameRows{frame_buffer, frame_width, frame_height, 0, frame_height};
}

void draw_final_tile(DrawTileFn kernel, int tx, int tz) {
    pack_tile_words(final_tile.data, final_tile.stride, viewer_padded_tile);
    kernel(whole_frame(), project_tile_corners(tx, tz), viewer_padded_tile,
           viewer_settings.bilinIpol != 0, viewer_draw_scratch);
}

}  // namespace

void draw_tile(int tx, int tz) {
    draw_final_tile(kernels().draw_tile, tx, tz);
}

void draw_tile_plain(int tx, int tz) {
    draw_final_tile(draw_tile_rows_plain, tx, tz);
}

void draw_base_level() {
    kernels().draw_base(whole_frame(), view_rect, base_tex_packed, viewer_settings.bilinIpol != 0,
                        viewer_draw_scratch);
}

void draw_base_level_plain() {
    draw_base_rows_plain(whole_frame(), view_rect, base_tex_packed, viewer_settings.bilinIpol != 0,
                         viewer_draw_scratch);
}

void present_frame_words(uint8_t* pixels, int pitch, int sw, int sh) {
    const int W = frame_width, H = frame_height;
    if (pitch == 4 * W && sw >= W && sh >= H) {
        memcpy(pixels, frame_buffer, size_t(W) * size_t(H) * 4);
        return;
    }
    // Only where the surface exists: a surface smaller than the frame gets its overlap.
    const int w = W < sw ? W : sw;
    const int h = H < sh ? H : sh;
    if (w <= 0) return;
    for (int y = 0; y < h; ++y)
        memcpy(pixels + size_t(y) * pitch, frame_buffer + size_t(y) * W, size_t(w) * 4);
}
