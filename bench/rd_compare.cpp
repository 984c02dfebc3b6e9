#include "bench/rd_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "builder/planes.h"
#include "render/qvk_picture.h"
#include "render/tile_scratch.h"

namespace rd {
namespace {

// The smoothness test of a step between rows y - 1 and y reads rows y - 2 .. y + 1, so a band
// is held with the two rows above it. Every row step tested in a band lies at its first row or
// half a tile further, so the row below it is always in the band too (tile >= 4).
constexpr int kAbove = 2;

// Rows y0 .. y0 + n - 1 of `from` into rows `at` .. of the planes.
void read_rows(builder::RowSource& from, int y0, int n, std::vector<uint8_t>& rgb,
               builder::Planes& out, int at) {
    const size_t row = size_t(from.width()) * 3;
    rgb.resize(row * size_t(n));
    from.rows(uint32_t(y0), uint32_t(n), rgb.data(), row);
    for (int i = 0; i < n; ++i) {
        const uint8_t* p = rgb.data() + size_t(i) * row;
        uint8_t* r = out.at(0, 0, at + i);
        uint8_t* g = out.at(1, 0, at + i);
        uint8_t* b = out.at(2, 0, at + i);
        for (int x = 0; x < out.w; ++x, p += 3) r[x] = p[0], g[x] = p[1], b[x] = p[2];
    }
}

// Moves the last `keep` of `held` rows to the top.
void keep_last_rows(builder::Planes& p, int held, int keep) {
    for (int ch = 0; ch < 3; ++ch)
        std::memmove(p.at(ch, 0, 0), p.at(ch, 0, held - keep), size_t(keep) * size_t(p.stride));
}

// Absolute error steps of the three channels between (xa, ya) and (xb, yb), window rows.
int error_step(const builder::Planes& s, const builder::Planes& d, int ch, int xa, int ya, int xb,
               int yb) {
    const int ea = int(*d.at(ch, xa, ya)) - int(*s.at(ch, xa, ya));
    const int eb = int(*d.at(ch, xb, yb)) - int(*s.at(ch, xb, yb));
    return std::abs(eb - ea);
}

void add_column_step(const builder::Planes& s, const builder::Planes& d, int x, int r, double& sum,
                     int64_t& pairs) {
    if (!builder::smooth_step(s, x, r, true)) return;
    for (int ch = 0; ch < 3; ++ch) sum += error_step(s, d, ch, x - 1, r, x, r);
    pairs += 3;
}

void add_row_steps(const builder::Planes& s, const builder::Planes& d, int r, double& sum,
                   int64_t& pairs) {
    for (int x = 0; x < s.w; ++x) {
        if (!builder::smooth_step(s, x, r, false)) continue;
        for (int ch = 0; ch < 3; ++ch) sum += error_step(s, d, ch, x, r - 1, x, r);
        pairs += 3;
    }
}

// The finest level of a one-file picture as the viewer shows it: made render tile by render tile
// (read, checked, decoded, the stored tiles' borders smoothed), one row of them when its first
// pixel row is asked for.
class QvkRows : public builder::RowSource {
  public:
    explicit QvkRows(const std::string& path) : path_(path) {
        std::string error;
        picture_ = QvkPicture::open(path, error);
        if (!picture_) throw std::runtime_error(error);
        picture_->set_warning_stream(stderr);
        level_ = picture_->levels();
        width_ = picture_->width();
        height_ = picture_->height();
        stride_ = size_t(picture_->render_tiles_x(level_)) * kTileRowBytes;
        band_.resize(stride_ * kTilePixels);
    }
    uint32_t width() const override { return width_; }
    uint32_t height() const override { return height_; }
    std::string describe() const override {
        return path_ + " (finest level, " + std::to_string(width_) + " x " +
               std::to_string(height_) + ")";
    }
    int tile_size() const { return picture_->tile_size(); }

    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t y = y0 + i;
            const int ty = int(y / kTilePixels);
            if (ty != band_row_) make_band(ty);
            const uint8_t* p = band_.data() + size_t(y % kTilePixels) * stride_;
            uint8_t* o = rgb + size_t(i) * stride;
            for (uint32_t x = 0; x < width_; ++x, p += 4, o += 3)
                o[0] = p[0], o[1] = p[1], o[2] = p[2];
        }
    }

  private:
    void make_band(int ty) {
        const QvkLevel& lv = picture_->level(level_);
        TileScratch& s = buffers_.scratch();
        const size_t warned = picture_->warnings();
        for (uint32_t tx = 0; tx < picture_->render_tiles_x(level_); ++tx) {
            picture_->make_tile(QvkPicture::job(lv, level_, int(tx), ty, true), s);
            for (int y = 0; y < kTilePixels; ++y)
                memcpy(band_.data() + size_t(y) * stride_ + size_t(tx) * kTileRowBytes,
                       s.final_tile + y * kTileRowBytes, kTileRowBytes);
        }
        if (picture_->warnings() != warned)
            throw std::runtime_error(path_ + ": a tile is damaged (see the warning above)");
        band_row_ = ty;
    }

    std::string path_;
    std::unique_ptr<QvkPicture> picture_;
    TileScratchBuffers buffers_;
    int level_ = 0;
    uint32_t width_ = 0, height_ = 0;
    size_t stride_ = 0;
    std::vector<uint8_t> band_;
    int band_row_ = -1;
};

}  // namespace

double Comparison::psnr_db() const {
    if (sse <= 0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 * double(samples) / sse);
}

Comparison compare(builder::RowSource& source, builder::RowSource& decoded, int tile,
                   int skip_grid) {
    if (source.width() != decoded.width() || source.height() != decoded.height())
        throw std::invalid_argument("the source is " + std::to_string(source.width()) + " x " +
                                    std::to_string(source.height()) +
                                    " pixels, the decoded picture " +
                                    std::to_string(decoded.width()) + " x " +
                                    std::to_string(decoded.height()) + ": the sizes must match");
    if (tile < 4 || tile % 2 != 0)
        throw std::invalid_argument("the tile size must be an even number from 4 up, not " +
                                    std::to_string(tile));
    Comparison c;
    c.width = source.width();
    c.height = source.height();
    c.tile = tile;
    const int w = int(c.width), h = int(c.height), half = tile / 2;
    builder::Planes s(w, tile + kAbove, 0), d(w, tile + kAbove, 0);
    std::vector<uint8_t> rgb;
    int held = 0;  // rows in the window
    for (int y0 = 0; y0 < h; y0 += tile) {
        const int y1 = std::min(h, y0 + tile);
        const int keep = std::min(held, kAbove);
        keep_last_rows(s, held, keep);
        keep_last_rows(d, held, keep);
        read_rows(source, y0, y1 - y0, rgb, s, keep);
        read_rows(decoded, y0, y1 - y0, rgb, d, keep);
        held = keep + (y1 - y0);
        // smooth_step clamps to the planes' rows: the window's top and bottom are the picture's
        // own where it reaches them, and elsewhere no tested step reads past them.
        s.h = d.h = held;
        const int first = y0 - keep;  // picture row of window row 0

        for (int r = keep; r < held; ++r)
            for (int ch = 0; ch < 3; ++ch) {
                const uint8_t* ps = s.at(ch, 0, r);
                const uint8_t* pd = d.at(ch, 0, r);
                int64_t row_sse = 0;
                for (int x = 0; x < w; ++x) {
                    const int e = int(pd[x]) - int(ps[x]);
                    row_sse += e * e;
                }
                c.sse += double(row_sse);
            }
        c.samples += uint64_t(y1 - y0) * uint64_t(w) * 3;

        // Steps on the picture's own grid (a mosaic's cell edges) say nothing of the coder's.
        auto counted = [&](int at) { return skip_grid <= 0 || at % skip_grid != 0; };
        for (int r = keep; r < held; ++r)
            for (int x0 = 0; x0 < w; x0 += tile) {
                if (x0 > 0 && counted(x0))
                    add_column_step(s, d, x0, r, c.seams.border_sum, c.seams.border_pairs);
                if (x0 + half < w && counted(x0 + half))
                    add_column_step(s, d, x0 + half, r, c.seams.middle_sum, c.seams.middle_pairs);
            }
        if (y0 > 0 && counted(y0))
            add_row_steps(s, d, y0 - first, c.seams.border_sum, c.seams.border_pairs);
        if (y0 + half < h && counted(y0 + half))
            add_row_steps(s, d, y0 + half - first, c.seams.middle_sum, c.seams.middle_pairs);
    }
    return c;
}

std::unique_ptr<builder::RowSource> open_qvk_rows(const std::string& path, int* tile_size) {
    auto rows = std::make_unique<QvkRows>(path);
    if (tile_size) *tile_size = rows->tile_size();
    return rows;
}

}  // namespace rd
