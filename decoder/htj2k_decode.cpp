// HTJ2K decoding through OpenJPH (decoder/htj2k_decode.h).
#include "decoder/htj2k_decode.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "decoder/htj2k_codestream.h"
#include "decoder/kernels.h"
#include "decoder/openjph.h"
#include "decoder/openjph_headers.h"

namespace {

// The library reads through this; every read and seek stays inside the caller's bytes. (The
// library has a memory reader of its own, but whether a build exports it has varied, and with
// this one the bounds are ours and tested.)
class MemoryReader : public ojph::infile_base {
  public:
    MemoryReader(const uint8_t* data, size_t n) : data_(data), n_(n) {}
    size_t read(void* ptr, size_t size) override {
        const size_t k = std::min(size, n_ - pos_);
        if (k) memcpy(ptr, data_ + pos_, k);
        pos_ += k;
        return k;
    }
    int seek(ojph::si64 offset, enum infile_base::seek origin) override {
        int64_t base = 0;
        if (origin == OJPH_SEEK_CUR) base = int64_t(pos_);
        if (origin == OJPH_SEEK_END) base = int64_t(n_);
        if (offset < -base || offset > int64_t(n_) - base) return -1;
        pos_ = size_t(base + offset);
        return 0;
    }
    ojph::si64 tell() override { return ojph::si64(pos_); }
    bool eof() override { return pos_ >= n_; }

  private:
    const uint8_t* data_;
    size_t n_;
    size_t pos_ = 0;
};

// One row of pixels from the three components' lines, written so that the compiler vectorises
// it (it took a sixth of the decoding time byte by byte).
void interleave4(const int32_t* const line[3], int w, uint8_t* row) {
    const int32_t *r = line[0], *g = line[1], *b = line[2];
    for (int x = 0; x < w; ++x) {
        const uint32_t px = uint32_t(std::min(255, std::max(0, r[x]))) |
                            uint32_t(std::min(255, std::max(0, g[x]))) << 8 |
                            uint32_t(std::min(255, std::max(0, b[x]))) << 16 | 0xFF000000u;
        memcpy(row + 4 * size_t(x), &px, 4);
    }
}

void interleave3(const int32_t* const line[3], int w, uint8_t* row) {
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
            row[3 * size_t(x) + c] = uint8_t(std::min(255, std::max(0, line[c][x])));
}

// The last three rows of the three components, padded for the restoration filter's row kernel
// (component c's row y in slot 3c + y % 3), and the three filtered rows (slots 9-11).
class FilterRows {
  public:
    void start(int w) {
        row_fn_ = decoder_kernels().tile_filter_row;
        w_ = w;
        pw_ = size_t(w) + 2;
        buf_.assign(12 * pw_, 0);
    }
    void load(int y, const int32_t* const line[3]) {
        for (int c = 0; c < 3; ++c) {
            int16_t* row = slot(c, y);
            for (int x = 0; x < w_; ++x)
                row[x + 1] = int16_t(std::min(255, std::max(0, line[c][x])));
            row[0] = row[1];
            row[w_ + 1] = row[w_];
        }
    }
    // Writes row y, `last` being the last row loaded (y + 1, or y itself at the bottom).
    void emit(const TileFilter& f, int y, int last, uint8_t* out, int pixel_bytes) {
        const int16_t* ch[3];
        for (int c = 0; c < 3; ++c) {
            const int16_t* mid = slot(c, y) + 1;
            if (!(f.mask >> c & 1)) {
                ch[c] = mid;
                continue;
            }
            int16_t* o = buf_.data() + size_t(9 + c) * pw_;
            row_fn_(f.taps[c], slot(c, y > 0 ? y - 1 : 0) + 1, mid, slot(c, last) + 1, w_, o);
            ch[c] = o;
        }
        if (pixel_bytes == 4)
            for (int x = 0; x < w_; ++x) {
                const uint32_t px = uint32_t(ch[0][x]) | uint32_t(ch[1][x]) << 8 |
                                    uint32_t(ch[2][x]) << 16 | 0xFF000000u;
                memcpy(out + 4 * size_t(x), &px, 4);
            }
        else
            for (int x = 0; x < w_; ++x)
                for (int c = 0; c < 3; ++c) out[3 * size_t(x) + c] = uint8_t(ch[c][x]);
    }

  private:
    int16_t* slot(int c, int y) { return buf_.data() + size_t(3 * c + y % 3) * pw_; }
    TileFilterRowFn row_fn_ = nullptr;
    int w_ = 0;
    size_t pw_ = 0;
    std::vector<int16_t> buf_;
};

bool fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

}  // namespace

bool decode_htj2k(const uint8_t* bytes, size_t n, int width, int height, int skip, uint8_t* out,
                  size_t stride, int pixel_bytes, std::string* error) {
    if (pixel_bytes != 3 && pixel_bytes != 4) return fail(error, "pixel size must be 3 or 4");
    if (skip < 0 || skip > kHtj2kMaxLevels) return fail(error, "resolution skip out of range");
    Htj2kCodestreamInfo info;
    std::string fault = check_htj2k_codestream(bytes, n, width, height, info);
    if (!fault.empty()) return fail(error, fault);
    if (skip > info.levels)
        return fail(error, "the codestream has " + std::to_string(info.levels) +
                               " levels; cannot leave out " + std::to_string(skip));
    const int out_w = htj2k_reduced_side(width, skip), out_h = htj2k_reduced_side(height, skip);
    if (stride < size_t(out_w) * size_t(pixel_bytes)) return fail(error, "stride too small");

    openjph_start();
    const uint64_t warnings = openjph_warnings_on_this_thread();
    // Owned here, outside the guarded call, so that it is destroyed whichever way the call ends.
    MemoryReader reader(bytes, n);
    ojph::codestream cs;
    std::string why;
    const bool ok = openjph_guarded(
        [&] {
            cs.read_headers(&reader);
            cs.restrict_input_resolution(ojph::ui32(skip), ojph::ui32(skip));
            cs.set_planar(false);
            cs.create();
            ojph::param_siz siz = cs.access_siz();
            for (ojph::ui32 c = 0; c < 3; ++c)
                if (siz.get_recon_width(c) != ojph::ui32(out_w) ||
                    siz.get_recon_height(c) != ojph::ui32(out_h))
                    throw "the library's output size differs from the expected";
            // The restoration filter was fitted to the whole resolution; a reduced picture is
            // shown as decoded. It runs on the lines as they come, one row behind them.
            const TileFilter* filter = skip == 0 && info.filter.on() ? &info.filter : nullptr;
            FilterRows rows;
            if (filter) rows.start(out_w);
            for (int y = 0; y < out_h; ++y) {
                // Each component's line stays valid until that component is pulled again.
                const int32_t* line[3];
                for (ojph::ui32 c = 0; c < 3; ++c) {
                    ojph::ui32 got = 0;
                    const ojph::line_buf* l = cs.pull(got);
                    if (!l || got != c || l->size < size_t(out_w))
                        throw "the library gave lines out of order";
                    line[c] = l->i32;
                }
                if (filter) {
                    rows.load(y, line);
                    if (y > 0)
                        rows.emit(*filter, y - 1, y, out + size_t(y - 1) * stride, pixel_bytes);
                    continue;
                }
                uint8_t* row = out + size_t(y) * stride;
                if (pixel_bytes == 4)
                    interleave4(line, out_w, row);
                else
                    interleave3(line, out_w, row);
            }
            if (filter)
                rows.emit(*filter, out_h - 1, out_h - 1, out + size_t(out_h - 1) * stride,
                          pixel_bytes);
            cs.close();
        },
        &why);
    if (!ok) return fail(error, why);
    if (openjph_warnings_on_this_thread() != warnings)
        return fail(error, "OpenJPH warned while decoding (damaged code blocks)");
    return true;
}
