// Scan order entries, permutation, coefficient tree and clear_zerotree counts.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "decoder/scan_order.h"

namespace {

class ScanOrder : public ::testing::Test {
  protected:
    void SetUp() override { build_scan_order(); }
    static int count_cleared() {
        int n = 0;
        for (int p = 0; p < 4096; ++p) n += zerotree_flags[p] == 0;
        return n;
    }
    static void reset_flags() { std::memset(zerotree_flags, 1, sizeof zerotree_flags); }
};

TEST_F(ScanOrder, IsAPermutation) {
    std::set<int> seen(scan_order, scan_order + 4096);
    EXPECT_EQ(seen.size(), 4096u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 4095);
}

TEST_F(ScanOrder, WorkedEntries) {
    EXPECT_EQ(scan_order[0], 0);
    EXPECT_EQ(scan_order[1], 1);
    EXPECT_EQ(scan_order[2], 64);
    EXPECT_EQ(scan_order[3], 65);
    EXPECT_EQ(scan_order[1024], 32);
    EXPECT_EQ(scan_order[2048], 2048);
    EXPECT_EQ(scan_order[3072], 2080);
    EXPECT_EQ(scan_order[4095], 4095);
    const int first32[32] = {0, 1, 64, 65, 2,  3,  66, 67, 128, 129, 192, 193, 130, 131, 194, 195,
                             4, 5, 6,  7,  68, 69, 70, 71, 132, 133, 134, 135, 196, 197, 198, 199};
    for (int i = 0; i < 32; ++i) EXPECT_EQ(scan_order[i], first32[i]) << "entry " << i;
}

TEST_F(ScanOrder, BandStartsByLevel) {
    // Level of size n occupies h^2 .. n^2 - 1; bands start at h^2, 2h^2, 3h^2.
    for (int n = 2; n <= 64; n *= 2) {
        const int h = n / 2;
        EXPECT_EQ(scan_order[h * h], h) << "top-right of n=" << n;             // (0, h)
        EXPECT_EQ(scan_order[2 * h * h], h * 64) << "bottom-left of n=" << n;  // (h, 0)
        EXPECT_EQ(scan_order[3 * h * h], h * 64 + h) << "bottom-right of n=" << n;
        EXPECT_EQ(scan_order[n * n - 1], (n - 1) * 64 + n - 1);
    }
}

TEST_F(ScanOrder, ChildrenComeAfterTheirParent) {
    int index_of[4096];
    for (int w = 0; w < 4096; ++w) index_of[scan_order[w]] = w;
    for (int p = 1; p < 4096; ++p) {
        const int r = p / 64, c = p % 64;
        if (r >= 32 || c >= 32) continue;
        const int q = 128 * r + 2 * c;
        for (int child : {q, q + 1, q + 64, q + 65}) EXPECT_LT(index_of[p], index_of[child]);
    }
    for (int child : {1, 64, 65}) EXPECT_LT(index_of[0], index_of[child]);
}

TEST_F(ScanOrder, ClearTopBandsCounts) {
    const int expected_band[3] = {0, 1, 2};  // 1: top-right, 64: bottom-left, 65: bottom-right
    const int roots[3] = {1, 64, 65};
    for (int i = 0; i < 3; ++i) {
        reset_flags();
        clear_zerotree(roots[i]);
        EXPECT_EQ(count_cleared(), 1365) << "root " << roots[i];
        for (int p = 1; p < 4096; ++p) {
            const int r = p / 64, c = p % 64;
            // Band of p: the level is the highest bit of max(r, c).
            int h = 1;
            while (h * 2 <= std::max(r, c)) h *= 2;
            const int band = (r < h) ? 0 : (c < h ? 1 : 2);
            EXPECT_EQ(zerotree_flags[p] == 0, band == expected_band[i]) << "position " << p;
        }
        EXPECT_EQ(zerotree_flags[0], 1);
    }
    reset_flags();
    zerotree_flags[0] = 0;
    clear_zerotree(1);
    clear_zerotree(64);
    clear_zerotree(65);
    EXPECT_EQ(count_cleared(), 4096);
}

TEST_F(ScanOrder, ClearSmallTrees) {
    reset_flags();
    clear_zerotree(31 * 64 + 31);
    EXPECT_EQ(count_cleared(), 5);
    for (int p : {31 * 64 + 31, 62 * 64 + 62, 62 * 64 + 63, 63 * 64 + 62, 63 * 64 + 63})
        EXPECT_EQ(zerotree_flags[p], 0);
    for (int p : {32, 2048, 2080, 4095, 63 * 64, 40 * 64 + 5}) {  // finest bands: one flag
        reset_flags();
        clear_zerotree(p);
        EXPECT_EQ(count_cleared(), 1) << p;
        EXPECT_EQ(zerotree_flags[p], 0);
    }
    for (int p : {4096, 5000, 1 << 20}) {
        reset_flags();
        clear_zerotree(p);
        EXPECT_EQ(count_cleared(), 0) << p;
    }
}

TEST_F(ScanOrder, ScanTreeMatchesThePositionTree) {
    const ScanTree& t = scan_tree();
    for (int w = 0; w < 4096; ++w) {
        EXPECT_EQ(t.pos[w], scan_order[w]);
        EXPECT_EQ(t.scan_of_pos[t.pos[w]], w);
    }
    for (int w = 1; w < 4096; ++w) {
        const int p = t.pos[w], r = p / 64, c = p % 64;
        if (r >= 32 || c >= 32) {
            EXPECT_EQ(t.first_child[w], 0) << w;
            continue;
        }
        const int q = 128 * r + 2 * c;
        const int fc = t.first_child[w], width = 2 * t.band_side[w];
        EXPECT_EQ(t.pos[fc], q);
        EXPECT_EQ(t.pos[fc + 1], q + 1);
        EXPECT_EQ(t.pos[fc + width], q + 64);
        EXPECT_EQ(t.pos[fc + width + 1], q + 65);
    }
}

}  // namespace
