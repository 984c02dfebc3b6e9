// The procedural world streamed row by row (builder/row_source.h). Each level of the refinement
// is a row generator that pulls rows from the level above as it needs them and keeps only the
// last four, widened: a child row needs its parent rows k - 1 .. k + 2 (k = row / 2), and those
// only move down. So a picture of any height costs a few rows per level, and the rows are those
// the folder form computes for the same place, since every value depends only on the level and
// global coordinates.
//
// The picture's columns are cut into bands computed on separate threads, each with its own
// generators over the columns its band needs (a few more at each level, for the interpolation's
// reach).
#include <algorithm>
#include <stdexcept>
#include <thread>
#include <vector>

#include "builder/row_source.h"
#include "builder/world_fields.h"
#include "store/qvk_format.h"

namespace builder {
namespace {

using world::kFields;

// Slot of row y in a ring of four (y may be negative).
inline size_t ring4(int y) {
    return size_t(unsigned(y) & 3u);
}

// Rows of one level over columns [lo, hi), produced in order from `next`. Level 1 copies the
// stored fields (edge pixels repeated outside the world); finer levels refine their parent's rows.
class LevelRows {
  public:
    LevelRows(int level, int lo, int hi, int first_row, uint32_t key, const world::Level1& base,
              LevelRows* parent)
        : lo_(lo), hi_(hi), next_(first_row), base_(base), parent_(parent) {
        const size_t w = size_t(hi - lo);
        for (int f = 0; f < kFields; ++f) {
            out_[f].resize(4 * w);
            if (parent_) {
                wide_[f].resize(4 * w);
                noise_[f] = world::refine_noise(key, f, level);
            }
        }
        odd_.resize(w / 2 + 2);
        if (parent_) wide_next_ = parent_->next_;
    }

    // The columns of the parent that rows over [lo, hi) read, and its first row for row `first`.
    static int parent_lo(int lo) { return (lo >> 1) - 1; }
    static int parent_hi(int hi) { return ((hi - 1) >> 1) + 3; }
    static int parent_first(int first) { return (first >> 1) - 1; }

    // Produces rows up to y (the last four stay readable).
    void produce_to(int y) {
        while (next_ <= y) produce();
    }
    // Row y of field f, indexed by global column; y must be one of the last four produced.
    const float* row(int f, int y) const {
        return out_[f].data() + ring4(y) * size_t(hi_ - lo_) - lo_;
    }

  private:
    void produce() {
        const int y = next_++;
        const int w = hi_ - lo_;
        if (!parent_) {
            for (int f = 0; f < kFields; ++f) {
                float* out = out_[f].data() + ring4(y) * size_t(w);
                for (int x = lo_; x < hi_; ++x) out[x - lo_] = base_.at(f, x, y);
            }
            return;
        }
        const int k = y >> 1;
        widen_to((y & 1) ? k + 2 : k);
        for (int f = 0; f < kFields; ++f) {
            float* out = out_[f].data() + ring4(y) * size_t(w);
            world::refine_row(wide(f, k - 1), wide(f, k), wide(f, k + 1), wide(f, k + 2), y, lo_, w,
                              noise_[f], out);
        }
    }

    // Widens the parent's rows up to k into the ring.
    void widen_to(int k) {
        for (; wide_next_ <= k; ++wide_next_) {
            parent_->produce_to(wide_next_);
            for (int f = 0; f < kFields; ++f)
                world::widen_row(parent_->row(f, wide_next_), lo_, hi_ - lo_, odd_.data(),
                                 wide_[f].data() + ring4(wide_next_) * size_t(hi_ - lo_));
        }
    }
    const float* wide(int f, int k) const { return wide_[f].data() + ring4(k) * size_t(hi_ - lo_); }

    int lo_, hi_, next_;
    const world::Level1& base_;
    LevelRows* parent_;
    int wide_next_ = 0;
    world::RefineNoise noise_[kFields] = {};
    std::vector<float> out_[kFields], wide_[kFields], odd_;
};

// Columns [x0, x1) of the picture: generators from level 1 down to the picture's level.
class Band {
  public:
    Band(int x0, int x1, int level, uint32_t key, const world::Level1& base)
        : x0_(x0), x1_(x1), level_(level) {
        // Shading reads one column and one row beyond the band on each side.
        std::vector<int> lo(size_t(level) + 1), hi(size_t(level) + 1), first(size_t(level) + 1);
        const size_t top = size_t(level);
        lo[top] = x0 - 1, hi[top] = x1 + 1, first[top] = -1;
        for (size_t l = top - 1; l >= 1; --l) {
            lo[l] = LevelRows::parent_lo(lo[l + 1]);
            hi[l] = LevelRows::parent_hi(hi[l + 1]);
            first[l] = LevelRows::parent_first(first[l + 1]);
        }
        levels_.reserve(top);
        for (size_t l = 1; l <= top; ++l)
            levels_.push_back(std::make_unique<LevelRows>(int(l), lo[l], hi[l], first[l], key, base,
                                                          l > 1 ? levels_.back().get() : nullptr));
        const size_t w = size_t(x1 - x0);
        for (auto& p : plane_) p.resize(w);
    }

    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) {
        LevelRows& fine = *levels_.back();
        const float relief = world::relief(level_);
        const int w = x1_ - x0_;
        for (uint32_t i = 0; i < n; ++i) {
            const int y = int(y0 + i);
            fine.produce_to(y + 1);
            world::colour_row(fine.row(0, y) + x0_, fine.row(0, y - 1) + x0_,
                              fine.row(0, y + 1) + x0_, fine.row(1, y) + x0_, fine.row(2, y) + x0_,
                              relief, w, plane_[0].data(), plane_[1].data(), plane_[2].data());
            uint8_t* out = rgb + size_t(i) * stride + size_t(x0_) * 3;
            for (int x = 0; x < w; ++x) {
                out[3 * size_t(x)] = plane_[0][size_t(x)];
                out[3 * size_t(x) + 1] = plane_[1][size_t(x)];
                out[3 * size_t(x) + 2] = plane_[2][size_t(x)];
            }
        }
    }

  private:
    int x0_, x1_, level_;
    std::vector<std::unique_ptr<LevelRows>> levels_;  // level 1 first
    std::vector<uint8_t> plane_[3];
};

class WorldRows : public RowSource {
  public:
    WorldRows(uint64_t seed, uint32_t width, uint32_t height, int threads)
        : key_(world::seed_key(seed)), width_(width), height_(height) {
        if (width < 1 || width > kQvkMaxSide || height < 1 || height > kQvkMaxSide)
            throw std::invalid_argument("the world cannot be " + std::to_string(width) + " x " +
                                        std::to_string(height) + " pixels (each side 1.." +
                                        std::to_string(kQvkMaxSide) + ")");
        while ((uint64_t(world::kLevel1W) << (level_ - 1)) < width ||
               (uint64_t(world::kLevel1H) << (level_ - 1)) < height)
            ++level_;
        threads_ = threads > 0 ? threads : int(std::max(1u, std::thread::hardware_concurrency()));
    }

    uint32_t width() const override { return width_; }
    uint32_t height() const override { return height_; }
    std::string describe() const override {
        return "procedural world (level " + std::to_string(level_) + ", " + std::to_string(width_) +
               " x " + std::to_string(height_) + ")";
    }

    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        if (!pool_) start();
        pool_->run(int64_t(bands_.size()),
                   [&](int64_t b) { bands_[size_t(b)]->rows(y0, n, rgb, stride); });
    }

  private:
    void start() {
        pool_ = std::make_unique<Pool>(threads_);
        world::make_level1(key_, *pool_, level1_);
        // Bands of at least 256 columns: narrower ones would spend more on their margins.
        const int bands = int(std::clamp<uint32_t>(width_ / 256, 1, uint32_t(threads_)));
        for (int b = 0; b < bands; ++b) {
            const int x0 = int(uint64_t(width_) * uint64_t(b) / uint64_t(bands));
            const int x1 = int(uint64_t(width_) * uint64_t(b + 1) / uint64_t(bands));
            bands_.push_back(std::make_unique<Band>(x0, x1, level_, key_, level1_));
        }
    }

    uint32_t key_, width_, height_;
    int level_ = 1;
    int threads_ = 1;
    std::unique_ptr<Pool> pool_;
    world::Level1 level1_;
    std::vector<std::unique_ptr<Band>> bands_;
};

}  // namespace

std::unique_ptr<RowSource> make_world_rows(uint64_t seed, uint32_t width, uint32_t height,
                                           int threads) {
    return std::make_unique<WorldRows>(seed, width, height, threads);
}

}  // namespace builder
