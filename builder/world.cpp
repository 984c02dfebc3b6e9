// The procedural world for a folder data set, one sub-image at a time (the fields and their
// arithmetic are in world_fields.h). Colour and relief shading are computed only at the finest
// level being built, so the shading picks up the new detail of every level, and the coarser levels
// of the data set are decimated from it like those of any imported picture.
#include <algorithm>
#include <cstring>
#include <vector>

#include "builder/source.h"
#include "builder/world_fields.h"

namespace builder {
namespace {

using world::Field;
using world::kFields;

constexpr int kFieldMargin = 8;

class World : public Source {
  public:
    explicit World(uint64_t seed) : key_(world::seed_key(seed)) {}

    std::string describe() const override { return "procedural world"; }

    void sub_image(int sub, int size, Planes& out, Pool& pool) override {
        if (level1_.field[0].empty()) world::make_level1(key_, pool, level1_);
        const int col = sub % 4, row = sub / 4;
        int levels = 0;  // refinements from 1024 pixels
        while ((1024 << levels) < size) ++levels;
        // Level-1 block of the sub-image with its margin, clamped at the world's edges. The
        // fields of every level are kept from one sub-image to the next (same sizes every time),
        // so their pages are faulted in and cleared by the kernel once per build.
        std::vector<Field>* cur = &fields_[1];
        cur->resize(kFields);
        for (int f = 0; f < kFields; ++f) {
            Field& c = (*cur)[size_t(f)];
            c.reset(-kFieldMargin, -kFieldMargin, 1024 + 2 * kFieldMargin, 1024 + 2 * kFieldMargin);
            for (int y = -kFieldMargin; y < 1024 + kFieldMargin; ++y) {
                float* r = c.row(y);
                for (int x = -kFieldMargin; x < 1024 + kFieldMargin; ++x)
                    r[x] = level1_.at(f, col * 1024 + x, row * 1024 + y);
            }
        }
        // Whole refinements up to the level below the finest.
        int s = 1024;
        for (int l = 2; l <= levels; ++l) {
            std::vector<Field>& next = fields_[l];
            next.resize(kFields);
            const int ns = 2 * s;
            for (int f = 0; f < kFields; ++f)
                next[size_t(f)].reset(-kFieldMargin, -kFieldMargin, ns + 2 * kFieldMargin,
                                      ns + 2 * kFieldMargin);
            const int rows = ns + 2 * kFieldMargin, per_job = 64;
            const std::vector<Field>& parent = *cur;
            pool.run((rows + per_job - 1) / per_job * kFields, [&](int64_t job) {
                const int f = int(job % kFields);
                const int y0 = -kFieldMargin + int(job / kFields) * per_job;
                const int y1 = std::min(ns + kFieldMargin, y0 + per_job);
                world::refine(key_, parent[size_t(f)], next[size_t(f)], f, l, col * ns, row * ns,
                              y0, y1);
            });
            cur = &next;
            s = ns;
        }
        // The finest level in strips: fields with one pixel of margin for the slopes, then
        // colour.
        out.reset(size, size, 0);
        const int finest = levels + 1;
        const int per_job = 32;
        pool.run((size + per_job - 1) / per_job, [&](int64_t job) {
            const int y0 = int(job) * per_job, y1 = std::min(size, y0 + per_job);
            Field fine[kFields];
            for (int f = 0; f < kFields; ++f) {
                fine[f].reset(-1, y0 - 1, size + 2, y1 - y0 + 2);
                if (size == s) {
                    // No refinement left: the fields are already at this resolution.
                    for (int y = y0 - 1; y <= y1; ++y)
                        memcpy(fine[f].row(y) - 1, (*cur)[size_t(f)].row(y) - 1,
                               sizeof(float) * (size + 2));
                } else {
                    world::refine(key_, (*cur)[size_t(f)], fine[f], f, finest, col * size,
                                  row * size, y0 - 1, y1 + 1);
                }
            }
            colour(fine, out, y0, y1, finest);
        });
    }

  private:
    static void colour(const Field* fine, Planes& out, int y0, int y1, int level) {
        const float relief = world::relief(level);
        for (int y = y0; y < y1; ++y)
            world::colour_row(fine[0].row(y), fine[0].row(y - 1), fine[0].row(y + 1),
                              fine[1].row(y), fine[2].row(y), relief, out.w, out.at(0, 0, y),
                              out.at(1, 0, y), out.at(2, 0, y));
    }

    uint32_t key_;
    world::Level1 level1_;
    std::vector<Field> fields_[8];  // by level, kept between sub-images
};

}  // namespace

std::unique_ptr<Source> make_world_source(uint64_t seed) {
    return std::make_unique<World>(seed);
}

}  // namespace builder
