#pragma once
#include <cstdint>

// Coefficient scan order of a 64 x 64 tile (coarsest band first) and the zerotree flags.
extern int32_t scan_order[4096];
extern uint8_t zerotree_flags[4096];

void build_scan_order();
void clear_zerotree(int p);
