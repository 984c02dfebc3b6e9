#pragma once
// An RGB picture held in memory for the one-file form's tests: its pixels, the builder's halving
// rule done plainly (the reference pyramid), and a row source that hands it to the builder.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "builder/row_source.h"

struct Rgb {
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> px;  // rows of w * 3 bytes
    const uint8_t* at(uint32_t x, uint32_t y) const { return &px[(size_t(y) * w + x) * 3]; }
};

// The coarser level by the plain rule: the rounded mean of each 2 x 2 block, the last column or
// row repeated at an odd edge.
inline Rgb halve(const Rgb& p) {
    Rgb q{(p.w + 1) / 2, (p.h + 1) / 2, {}};
    q.px.resize(size_t(q.w) * q.h * 3);
    for (uint32_t y = 0; y < q.h; ++y)
        for (uint32_t x = 0; x < q.w; ++x)
            for (int c = 0; c < 3; ++c) {
                const uint32_t x1 = std::min(2 * x + 1, p.w - 1), y1 = std::min(2 * y + 1, p.h - 1);
                const int sum = p.at(2 * x, 2 * y)[c] + p.at(x1, 2 * y)[c] + p.at(2 * x, y1)[c] +
                                p.at(x1, y1)[c];
                q.px[(size_t(y) * q.w + x) * 3 + size_t(c)] = uint8_t((sum + 2) >> 2);
            }
    return q;
}

// The picture as the builder reads it (it must outlive the source).
class Rows : public builder::RowSource {
  public:
    explicit Rows(const Rgb& p) : p_(p) {}
    uint32_t width() const override { return p_.w; }
    uint32_t height() const override { return p_.h; }
    std::string describe() const override { return "test picture"; }
    void rows(uint32_t y0, uint32_t n, uint8_t* rgb, size_t stride) override {
        for (uint32_t i = 0; i < n; ++i)
            memcpy(rgb + i * stride, p_.at(0, y0 + i), size_t(p_.w) * 3);
    }

  private:
    const Rgb& p_;
};
