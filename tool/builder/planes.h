#pragma once
// Planar 8-bit RGB images with a margin of readable pixels around them, the working format of
// the builder's whole-image passes (one plane per channel keeps the inner loops simple enough
// for the compiler to vectorise).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace builder {

struct Planes {
    int w = 0, h = 0;  // the image proper
    int m = 0;         // margin on every side: pixels (-m..w+m-1, -m..h+m-1) exist
    int stride = 0;    // w + 2m
    std::vector<uint8_t> c[3];

    Planes() = default;
    Planes(int w_, int h_, int m_) { reset(w_, h_, m_); }
    void reset(int w_, int h_, int m_) {
        w = w_;
        h = h_;
        m = m_;
        stride = w + 2 * m;
        for (auto& p : c) {
            p.assign(size_t(stride) * size_t(h + 2 * m), 0);
            p.shrink_to_fit();
        }
    }
    void release() {
        for (auto& p : c) std::vector<uint8_t>().swap(p);
        w = h = m = stride = 0;
    }
    // Pointer to pixel (x, y) of channel ch; x and y may lie in the margin.
    uint8_t* at(int ch, int x, int y) { return c[ch].data() + size_t(y + m) * stride + (x + m); }
    const uint8_t* at(int ch, int x, int y) const {
        return c[ch].data() + size_t(y + m) * stride + (x + m);
    }
    // Fills the margin by repeating the nearest edge pixel.
    void clamp_margin();
};

}  // namespace builder
