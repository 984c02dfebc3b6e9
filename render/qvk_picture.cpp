#include "render/qvk_picture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoder/qvk_tile.h"
#include "render/tile_borders.h"
#include "render/tile_cache.h"
#include "render/tile_scratch.h"

QvkPicture::QvkPicture(std::unique_ptr<QvkFile> file) : file_(std::move(file)) {
    if (file_->header().coder == uint32_t(QvkCoder::htj2k))
        filter_ =
            border_filter_for_quality(int(std::min<uint32_t>(file_->header().coder_param, 100)));
}

std::unique_ptr<QvkPicture> QvkPicture::open(const std::string& path, std::string& error) {
    std::unique_ptr<QvkFile> file = QvkFile::open(path, error);
    if (!file) return nullptr;
    return std::make_unique<QvkPicture>(std::move(file));
}

int QvkPicture::choose_level(float height, bool hiqu) const {
    int l = levels();
    if (hiqu) return l;
    for (double limit = 625.0; l > 1 && double(height) > limit; limit *= 2) --l;
    return l;
}

PictureGeometry QvkPicture::geometry() const {
    PictureGeometry g;
    g.x0 = 0;
    g.z0 = 0;
    g.pixels_w = width();
    g.pixels_h = height();
    g.width = 2.0 * width();
    g.height = 2.0 * height();
    g.levels = levels();
    return g;
}

TileJob QvkPicture::job(const QvkLevel& level, int l, int tx, int ty, bool residuals) {
    return TileJob{kFileSubImage, l, tx, ty, int(int64_t(ty) * render_tiles(level.width) + tx),
                   residuals};
}

bool QvkPicture::decode(int l, uint32_t tx, uint32_t ty, std::vector<uint8_t>& coded, uint8_t* out,
                        size_t stride, std::string& why) const {
    const int reduce = level(l).reduce, source = l + reduce;
    const QvkLevel& lv = level(source);
    const uint32_t T = uint32_t(tile_size());
    if (!file_->read_tile(source, tx, ty, coded, why)) return false;
    const int w = int(std::min<uint64_t>(T, lv.width - uint64_t(tx) * T));
    const int h = int(std::min<uint64_t>(T, lv.height - uint64_t(ty) * T));
    if (!decode_qvk_tile_reduced(file_->header().coder, coded.data(), coded.size(), int(T), w, h,
                                 reduce, out, stride)) {
        why = "tile data damaged";
        return false;
    }
    return true;
}

bool QvkPicture::stored(int l, uint32_t tx, uint32_t ty, TileScratch& s, uint8_t* scratch,
                        Pixels& out, std::string& why) const {
    // Straight into the render tile when one stored tile is one render tile (64-pixel tiles derive
    // no levels), unless the tile's borders are smoothed: that reads its neighbours too, so they
    // are kept.
    if (tile_size() == kTilePixels && !filter_.on()) {
        out = Pixels{scratch, size_t(kTileRowBytes), nullptr};
        return decode(l, tx, ty, *s.coded, scratch, kTileRowBytes, why);
    }
    const int side = stored_side(l);
    const uint64_t key = uint64_t(l) << 56 | uint64_t(ty) << 28 | tx;
    const size_t row = size_t(side) * 4;
    out.hold = stored_.get(key, [&] {
        auto t = std::make_shared<StoredTile>();
        try {
            t->pixels.resize(row * size_t(side));
        } catch (const std::bad_alloc&) {
            t->pixels.clear();
            t->why = "out of memory";
            return StoredTileCache::Ptr(t);
        }
        if (!decode(l, tx, ty, *s.coded, t->pixels.data(), row, t->why)) t->pixels.clear();
        return StoredTileCache::Ptr(t);
    });
    if (!out.hold->ok()) {
        why = out.hold->why;
        return false;
    }
    out.rows = out.hold->pixels.data();
    out.stride = row;
    return true;
}

void QvkPicture::make_tile(const TileJob& job, TileScratch& s) const {
    const uint32_t S = uint32_t(stored_side(job.level)), per = S / kTilePixels;
    // The render tile's first pixel in its level.
    const uint32_t X = uint32_t(job.tc) * kTilePixels, Y = uint32_t(job.tr) * kTilePixels;
    const uint32_t sx = uint32_t(job.tc) / per, sy = uint32_t(job.tr) / per;
    std::string why;
    Pixels px;
    if (stored(job.level, sx, sy, s, s.final_tile, px, why)) {
        if (px.rows == s.final_tile) return;
        if (filter_.on() && smooth_borders(job.level, X, Y, px, s)) return;
        const uint8_t* src = px.rows + size_t(Y - sy * S) * px.stride + size_t(X - sx * S) * 4;
        for (int y = 0; y < kTilePixels; ++y)
            memcpy(s.final_tile + y * kTileRowBytes, src + size_t(y) * px.stride, kTileRowBytes);
        return;
    }
    // The nearest coarser level that reads: each of its pixels stands for 2^d x 2^d of ours, and
    // the render tile's area there, 64 >> d pixels a side on a multiple of that, lies in one of
    // its tiles. The residual buffer is free here.
    for (int d = 1; job.level - d >= 1; ++d) {
        std::string coarse_why;
        const uint32_t C = uint32_t(stored_side(job.level - d));
        const uint32_t cx = (X >> d) / C, cy = (Y >> d) / C;
        if (!stored(job.level - d, cx, cy, s, s.residual, px, coarse_why)) continue;
        for (int y = 0; y < kTilePixels; ++y) {
            const uint32_t* src = reinterpret_cast<const uint32_t*>(
                px.rows + size_t(((Y + uint32_t(y)) >> d) - cy * C) * px.stride);
            uint32_t* dst = reinterpret_cast<uint32_t*>(s.final_tile + y * kTileRowBytes);
            for (int x = 0; x < kTilePixels; ++x) dst[x] = src[((X + uint32_t(x)) >> d) - cx * C];
        }
        warn(job.level, sx, sy, why, job.level - d);
        return;
    }
    memset(s.final_tile, 0, size_t(kTilePixels) * kTileRowBytes);
    warn(job.level, sx, sy, why, 0);
}

bool QvkPicture::smooth_borders(int l, uint32_t X, uint32_t Y, const Pixels& own,
                                TileScratch& s) const {
    const uint32_t S = uint32_t(stored_side(l));
    const uint64_t W = level(l).width, H = level(l).height;
    // Borders the render tile touches that lie inside the level, two pixels clear of its edges,
    // as window coordinates: the window is the render tile and two pixels around it.
    constexpr int kPad = 2, kSide = kTilePixels + 2 * kPad;
    int cols[2], rows[2], nc = 0, nr = 0;
    for (const uint64_t b : {uint64_t(X), uint64_t(X) + kTilePixels})
        if (b % S == 0 && b >= 2 && b + 2 <= W) cols[nc++] = int(b - X) + kPad;
    for (const uint64_t b : {uint64_t(Y), uint64_t(Y) + kTilePixels})
        if (b % S == 0 && b >= 2 && b + 2 <= H) rows[nr++] = int(b - Y) + kPad;
    if (nc == 0 && nr == 0) return false;

    // The window, gathered from the stored tiles it overlaps (up to 3 x 3 when a stored tile is a
    // render tile); one that does not read leaves its part black, and its border unsmoothed.
    uint8_t* win = s.synth_even;
    const size_t stride = kSynthRowBytes;
    const int64_t x0 = int64_t(X) - kPad, y0 = int64_t(Y) - kPad;
    bool missing_col[2] = {false, false}, missing_row[2] = {false, false};
    for (int64_t ty = y0 < 0 ? -1 : y0 / S; ty * int64_t(S) < y0 + kSide; ++ty)
        for (int64_t tx = x0 < 0 ? -1 : x0 / S; tx * int64_t(S) < x0 + kSide; ++tx) {
            const int64_t ax = std::max<int64_t>(x0, tx * S),
                          bx = std::min<int64_t>(x0 + kSide, (tx + 1) * S);
            const int64_t ay = std::max<int64_t>(y0, ty * S),
                          by = std::min<int64_t>(y0 + kSide, (ty + 1) * S);
            Pixels p;
            std::string why;
            const bool inside = tx >= 0 && ty >= 0 && uint64_t(tx) * S < W && uint64_t(ty) * S < H;
            bool ok = false;
            if (inside && uint64_t(tx) == X / S && uint64_t(ty) == Y / S) {
                p = own;
                ok = true;
            } else if (inside) {
                ok = stored(l, uint32_t(tx), uint32_t(ty), s, nullptr, p, why);
            }
            for (int64_t y = ay; y < by; ++y) {
                uint8_t* d = win + size_t(y - y0) * stride + size_t(ax - x0) * 4;
                if (ok)
                    memcpy(d, p.rows + size_t(y - ty * S) * p.stride + size_t(ax - tx * S) * 4,
                           size_t(bx - ax) * 4);
                else
                    memset(d, 0, size_t(bx - ax) * 4);
            }
            if (!ok && inside) {
                // A neighbour that cannot be read: the borders it shares stay as they are.
                for (int i = 0; i < nc; ++i)
                    if (x0 + cols[i] == (tx + 1) * int64_t(S) || x0 + cols[i] == tx * int64_t(S))
                        missing_col[i] = true;
                for (int i = 0; i < nr; ++i)
                    if (y0 + rows[i] == (ty + 1) * int64_t(S) || y0 + rows[i] == ty * int64_t(S))
                        missing_row[i] = true;
            }
        }
    int c2[2], r2[2], nc2 = 0, nr2 = 0;
    for (int i = 0; i < nc; ++i)
        if (!missing_col[i]) c2[nc2++] = cols[i];
    for (int i = 0; i < nr; ++i)
        if (!missing_row[i]) r2[nr2++] = rows[i];
    filter_tile_borders(filter_, win, stride, kSide, kSide, c2, nc2, r2, nr2);
    for (int y = 0; y < kTilePixels; ++y)
        memcpy(s.final_tile + y * kTileRowBytes, win + size_t(y + kPad) * stride + kPad * 4,
               kTileRowBytes);
    return true;
}

void QvkPicture::warn(int l, uint32_t tx, uint32_t ty, const std::string& why,
                      int shown_from) const {
    // Named as stored: a derived level's tile is its stored level's tile.
    l += level(l).reduce;
    {
        std::lock_guard<std::mutex> lock(warned_mutex_);
        const uint64_t key = uint64_t(l) << 56 | uint64_t(ty) << 28 | tx;
        if (!warned_.insert(key).second) return;
    }
    if (shown_from > 0)
        fprintf(warn_out_, "warning: %s: tile %d/%u,%u: %s; drawn from level %d\n", name().c_str(),
                l, tx, ty, why.c_str(), shown_from);
    else
        fprintf(warn_out_, "warning: %s: tile %d/%u,%u: %s; drawn black\n", name().c_str(), l, tx,
                ty, why.c_str());
    fflush(warn_out_);
}

size_t QvkPicture::warnings() const {
    std::lock_guard<std::mutex> lock(warned_mutex_);
    return warned_.size();
}

bool QvkPicture::make_minimap(int max_side, RawImage& out) const {
    const double W = width(), H = height();
    const int mw = W >= H ? max_side : std::max(1, int(max_side * W / H + 0.5));
    const int mh = H > W ? max_side : std::max(1, int(max_side * H / W + 0.5));
    int l = 1;
    while (l < levels() && (level(l).width < uint32_t(mw) || level(l).height < uint32_t(mh))) ++l;
    const QvkLevel& lv = level(l);
    const size_t sw = lv.width, sh = lv.height;
    std::vector<uint32_t> pixels;
    try {
        pixels.assign(sw * sh, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    TileScratchBuffers buffers;
    TileScratch& s = buffers.scratch();
    for (uint32_t ty = 0; ty < render_tiles_y(l); ++ty)
        for (uint32_t tx = 0; tx < render_tiles_x(l); ++tx) {
            const TileJob j = job(lv, l, int(tx), int(ty), true);
            make_tile(j, s);
            const size_t x0 = size_t(tx) * kTilePixels, y0 = size_t(ty) * kTilePixels;
            for (size_t y = y0; y < std::min(sh, y0 + kTilePixels); ++y)
                for (size_t x = x0; x < std::min(sw, x0 + kTilePixels); ++x) {
                    const uint8_t* p = s.final_tile + (y - y0) * kTileRowBytes + (x - x0) * 4;
                    pixels[y * sw + x] = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
                }
        }
    out.data = static_cast<uint8_t*>(malloc(size_t(mw) * mh * 4));
    if (!out.data) return false;
    out.bpp = 4;
    out.id = 2;
    out.w = mw;
    out.h = mh;
    out.stride = mw * 4;
    // Each minimap pixel is the mean of the source pixels its area covers (at least one).
    for (int y = 0; y < mh; ++y) {
        const size_t ya = size_t(y) * sh / mh, yb = std::max(ya + 1, size_t(y + 1) * sh / mh);
        for (int x = 0; x < mw; ++x) {
            const size_t xa = size_t(x) * sw / mw, xb = std::max(xa + 1, size_t(x + 1) * sw / mw);
            uint64_t sum[3] = {0, 0, 0};
            for (size_t j = ya; j < yb; ++j)
                for (size_t i = xa; i < xb; ++i) {
                    const uint32_t p = pixels[j * sw + i];
                    sum[0] += p >> 16 & 255;
                    sum[1] += p >> 8 & 255;
                    sum[2] += p & 255;
                }
            const uint64_t n = (yb - ya) * (xb - xa);
            reinterpret_cast<uint32_t*>(out.data)[size_t(y) * mw + x] =
                uint32_t((sum[0] + n / 2) / n) << 16 | uint32_t((sum[1] + n / 2) / n) << 8 |
                uint32_t((sum[2] + n / 2) / n);
        }
    }
    return true;
}
