#pragma once
// Coefficient scan order and zerotree flags of a 64 x 64 tile.
#include <cstdint>

// Coefficient scan order of a 64 x 64 tile (coarsest band first) and the zerotree flags.
extern int32_t scan_order[4096];
extern uint8_t zerotree_flags[4096];

// Fills scan_order. Called once at start-up; cannot fail.
void build_scan_order();
// Clears zerotree_flags[p] and the flags of all descendants of p (p != 0); p >= 4096: nothing.
void clear_zerotree(int p);
// The same on another array of 4096 flags (the reference decoder keeps one per thread).
void clear_zerotree_in(uint8_t* flags, int p);

// Constant tables of the coefficient tree in scan-index space, for the fast decoder and the
// encoder. Built on first use (thread-safe), independent of the globals above.
//
// Scan index w (0..4095) names the coefficient at position pos[w] = scan_order[w]. Inside a band
// the scan runs row by row, so the descendants of a coefficient at each finer level form a square
// block of the band's rows: the children of w (w != 0) are first_child[w] + {0, 1, width, width+1}
// where `width` is the side of the children's band; the children of w = 0 are 1, 2 and 3.
struct ScanTree {
    int16_t pos[4096];          // position (row * 64 + column) of scan index w
    int16_t first_child[4096];  // scan index of the first child (w >= 1), 0 for the finest bands
    uint8_t band_side[4096];    // side h of w's band (1, 2, 4, ..., 32); 0 for w = 0
    int16_t scan_of_pos[4096];  // inverse permutation: scan index of position p
};
const ScanTree& scan_tree();
