#pragma once
// A walk over the packet headers of an HTJ2K tile as encoder/htj2k_encode.h lays it out, before
// OpenJPH parses them. OpenJPH 0.9 trusts the code-block lengths in packet headers: a damaged
// length makes it write past a buffer (seen under valgrind with one flipped byte). So every
// length is checked here first: each packet's code blocks must be in range and together end
// where the tile's data ends.
#include <cstddef>
#include <cstdint>
#include <string>

// What the walk needs from the main header.
struct Htj2kTileLayout {
    int width = 0, height = 0;
    int levels = 0;                 // wavelet decompositions
    int guard = 0;                  // guard bits
    int exponent[3 * 16 + 1] = {};  // quantisation exponent of each band: LL, then HL, LH, HH of
                                    // each level from the coarsest
};

// Checks the packets in data[0, n) (the bytes after SOD): resolution by resolution from the
// coarsest, the three components' packets, one layer, one precinct, no SOP or EPH markers, 64x64
// code blocks. A code block may have at most a cleanup and a refinement segment (cleanup 2 ..
// 65534 bytes, refinement below 2047), and fewer missing bit-planes than its band has. Returns
// "" or what is wrong.
std::string check_htj2k_packets(const uint8_t* data, size_t n, const Htj2kTileLayout& layout);
