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

// One component's line into 16-bit samples 0 .. 255.
void clamp_row(const int32_t* __restrict in, int w, int16_t* __restrict out) {
    for (int x = 0; x < w; ++x) out[x] = int16_t(std::min(255, std::max(0, in[x])));
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
            clamp_row(line[c], w_, row + 1);
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

// Where the decoded lines go: `begin` with what the check read from the codestream, then one
// call per row, top to bottom, each component's line clamped by the receiver, then `finish`.
// Calls come from inside the guarded library call, so a receiver must not throw.
class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual void begin(const Htj2kCodestreamInfo&) {}
    virtual void line(int y, const int32_t* const line[3]) = 0;
    virtual void finish() {}
};

// Checks and decodes the codestream (`skip` already within 0 .. kHtj2kMaxLevels), handing its
// rows to `sink`.
bool decode_lines(const uint8_t* bytes, size_t n, int width, int height, int skip, LineSink& sink,
                  std::string* error) {
    Htj2kCodestreamInfo info;
    std::string fault = check_htj2k_codestream(bytes, n, width, height, info);
    if (!fault.empty()) return fail(error, fault);
    if (skip > info.levels)
        return fail(error, "the codestream has " + std::to_string(info.levels) +
                               " levels; cannot leave out " + std::to_string(skip));
    const int out_w = htj2k_reduced_side(width, skip), out_h = htj2k_reduced_side(height, skip);
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
            sink.begin(info);
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
                sink.line(y, line);
            }
            sink.finish();
            cs.close();
        },
        &why);
    if (!ok) return fail(error, why);
    if (openjph_warnings_on_this_thread() != warnings)
        return fail(error, "OpenJPH warned while decoding (damaged code blocks)");
    return true;
}

// Pixels for the viewer: interleaved, with the restoration filter on whole-resolution decodes
// (it was fitted to the whole resolution; a reduced picture is shown as decoded), run one row
// behind the lines as they come.
class PixelSink : public LineSink {
  public:
    PixelSink(int skip, int w, int h, uint8_t* out, size_t stride, int pixel_bytes)
        : skip_(skip), w_(w), h_(h), out_(out), stride_(stride), pixel_bytes_(pixel_bytes) {}
    void begin(const Htj2kCodestreamInfo& info) override {
        filtered_ = skip_ == 0 && info.filter.on();
        if (!filtered_) return;
        filter_ = info.filter;
        rows_.start(w_);
    }
    void line(int y, const int32_t* const line[3]) override {
        if (filtered_) {
            rows_.load(y, line);
            if (y > 0) rows_.emit(filter_, y - 1, y, row(y - 1), pixel_bytes_);
            return;
        }
        if (pixel_bytes_ == 4)
            interleave4(line, w_, row(y));
        else
            interleave3(line, w_, row(y));
    }
    void finish() override {
        if (filtered_) rows_.emit(filter_, h_ - 1, h_ - 1, row(h_ - 1), pixel_bytes_);
    }

  private:
    uint8_t* row(int y) { return out_ + size_t(y) * stride_; }
    const int skip_, w_, h_;
    uint8_t* const out_;
    const size_t stride_;
    const int pixel_bytes_;
    bool filtered_ = false;
    TileFilter filter_;
    FilterRows rows_;
};

class PlaneSink : public LineSink {
  public:
    PlaneSink(int w, int16_t* const planes[3], size_t stride)
        : w_(w), planes_{planes[0], planes[1], planes[2]}, stride_(stride) {}
    void line(int y, const int32_t* const line[3]) override {
        for (int c = 0; c < 3; ++c) clamp_row(line[c], w_, planes_[c] + size_t(y) * stride_);
    }

  private:
    const int w_;
    int16_t* const planes_[3];
    const size_t stride_;
};

}  // namespace

bool decode_htj2k(const uint8_t* bytes, size_t n, int width, int height, int skip, uint8_t* out,
                  size_t stride, int pixel_bytes, std::string* error) {
    if (pixel_bytes != 3 && pixel_bytes != 4) return fail(error, "pixel size must be 3 or 4");
    if (skip < 0 || skip > kHtj2kMaxLevels) return fail(error, "resolution skip out of range");
    const int out_w = htj2k_reduced_side(width, skip), out_h = htj2k_reduced_side(height, skip);
    if (stride < size_t(out_w) * size_t(pixel_bytes)) return fail(error, "stride too small");
    PixelSink sink(skip, out_w, out_h, out, stride, pixel_bytes);
    return decode_lines(bytes, n, width, height, skip, sink, error);
}

bool decode_htj2k_planes(const uint8_t* bytes, size_t n, int width, int height,
                         int16_t* const planes[3], size_t stride, std::string* error) {
    if (width < 1 || height < 1) return fail(error, "block size out of range");
    if (stride < size_t(width)) return fail(error, "stride too small");
    PlaneSink sink(width, planes, stride);
    return decode_lines(bytes, n, width, height, 0, sink, error);
}
