#pragma once
// Planar 8-bit RGB images with a margin of readable pixels around them, the working format of
// the builder's whole-image passes (one plane per channel keeps the inner loops simple enough
// for the compiler to vectorise).
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

namespace builder {

// Big pixel buffers ask for transparent huge pages: a 64 x 64 tile touches 64 rows of each of
// six planes up to 16 KiB apart, and with 4 KiB pages each of them is a page walk of its own.
template <class T>
struct HugePageAllocator {
    using value_type = T;
    HugePageAllocator() = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) {}
    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        constexpr size_t kHuge = size_t(2) << 20;
        if (bytes < kHuge) return static_cast<T*>(::operator new(bytes));
        const size_t rounded = (bytes + kHuge - 1) / kHuge * kHuge;
        void* p = std::aligned_alloc(kHuge, rounded);
        if (!p) throw std::bad_alloc();
        madvise(p, rounded, MADV_HUGEPAGE);
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) {
        if (n * sizeof(T) < (size_t(2) << 20))
            ::operator delete(p);
        else
            std::free(p);
    }
    // Pixels are always written before they are read, so growing a buffer need not clear it.
    template <class U>
    void construct(U*) noexcept {}
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <class U>
    bool operator==(const HugePageAllocator<U>&) const {
        return true;
    }
    template <class U>
    bool operator!=(const HugePageAllocator<U>&) const {
        return false;
    }
};

using PixelBuffer = std::vector<uint8_t, HugePageAllocator<uint8_t>>;

struct Planes {
    int w = 0, h = 0;  // the image proper
    int m = 0;         // margin on every side: pixels (-m..w+m-1, -m..h+m-1) exist
    int stride = 0;    // w + 2m
    PixelBuffer c[3];

    Planes() = default;
    Planes(int w_, int h_, int m_) { reset(w_, h_, m_); }
    // Sets the geometry; the pixels are unspecified until written (a buffer of the same size is
    // kept as it is, so that a pass run once per sub-image does not fault in fresh memory).
    void reset(int w_, int h_, int m_) {
        w = w_;
        h = h_;
        m = m_;
        stride = w + 2 * m;
        const size_t n = size_t(stride) * size_t(h + 2 * m);
        for (auto& p : c) {
            if (p.size() == n) continue;
            PixelBuffer().swap(p);
            p.resize(n);
        }
    }
    void release() {
        for (auto& p : c) PixelBuffer().swap(p);
        w = h = m = stride = 0;
    }
    // Pointer to pixel (x, y) of channel ch; x and y may lie in the margin.
    uint8_t* at(int ch, int x, int y) { return c[ch].data() + size_t(y + m) * stride + (x + m); }
    const uint8_t* at(int ch, int x, int y) const {
        return c[ch].data() + size_t(y + m) * stride + (x + m);
    }
    // Fills the margin by repeating the nearest edge pixel.
    void clamp_margin();
    // Asks for the 64 x 64 block at (x0, y0) of every channel to be brought into the cache: its
    // rows lie too far apart for the hardware to see the pattern.
    void prefetch_tile(int x0, int y0) const {
        for (int ch = 0; ch < 3; ++ch)
            for (int y = 0; y < 64; ++y) __builtin_prefetch(at(ch, x0, y0 + y));
    }
};

}  // namespace builder
