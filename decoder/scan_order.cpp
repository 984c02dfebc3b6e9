// Scan order, coefficient tree and zerotree flags.
#include "decoder/scan_order.h"

int32_t scan_order[4096];
uint8_t zerotree_flags[4096];

namespace {

// Appends the three detail bands of the level of size n, in scan order, through `emit`.
template <typename Emit>
void for_each_band_entry(Emit&& emit) {
    emit(0, 0, 0, 0, 0);  // the DC coefficient: (row, column, band side h, band, level size n)
    for (int n = 2; n <= 64; n *= 2) {
        const int h = n / 2;
        for (int r = 0; r < h; ++r)  // top-right
            for (int c = h; c < n; ++c) emit(r, c, h, 0, n);
        for (int r = h; r < n; ++r)  // bottom-left
            for (int c = 0; c < h; ++c) emit(r, c, h, 1, n);
        for (int r = h; r < n; ++r)  // bottom-right
            for (int c = h; c < n; ++c) emit(r, c, h, 2, n);
    }
}

ScanTree make_scan_tree() {
    ScanTree t{};
    int w = 0;
    for_each_band_entry([&](int r, int c, int h, int band, int n) {
        t.pos[w] = int16_t(r * 64 + c);
        t.band_side[w] = uint8_t(h);
        t.first_child[w] = 0;
        if (w != 0 && n < 64) {
            // Relative place (i, j) in the band of side h; the children's band (same kind, level
            // 2n, side n) starts at scan index n*n + band * n*n and is n wide.
            const int i = r - (band == 0 ? 0 : h);
            const int j = c - (band == 1 ? 0 : h);
            t.first_child[w] = int16_t(n * n + band * n * n + 2 * i * n + 2 * j);
        }
        ++w;
    });
    for (int k = 0; k < 4096; ++k) t.scan_of_pos[t.pos[k]] = int16_t(k);
    return t;
}

}  // namespace

void build_scan_order() {
    int w = 0;
    for_each_band_entry([&](int r, int c, int, int, int) { scan_order[w++] = r * 64 + c; });
}

void clear_zerotree_in(uint8_t* flags, int p) {
    if (p <= 0) return;  // the DC tree is cleared by the caller; p = 0 would recurse
    while (p < 4096) {
        flags[p] = 0;
        const int r = p / 64, c = p % 64;
        if (2 * c >= 64 || 2 * r >= 64) return;
        const int q = 128 * r + 2 * c;
        clear_zerotree_in(flags, q);
        clear_zerotree_in(flags, q + 1);
        clear_zerotree_in(flags, q + 64);
        p = q + 65;
    }
}

void clear_zerotree(int p) {
    clear_zerotree_in(zerotree_flags, p);
}

const ScanTree& scan_tree() {
    static const ScanTree tree = make_scan_tree();
    return tree;
}
