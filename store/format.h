#pragma once
// The data set's fixed numbers, each defined here once: the tile grid, the tile file's record
// layout and stream limits, the world's geometry and the camera's start pose. The byte layouts
// themselves are described where they are read (store/raw_image.h, store/tile_file.h).
#include <cstdint>

// ---- Tiles ----
constexpr int kTilePixels = 64;                         // a tile is 64 x 64 pixels
constexpr int kTileCoeffs = kTilePixels * kTilePixels;  // coefficients per channel plane

// ---- Tile files ----
constexpr int kTileHeaderSize = 24;   // file header
constexpr int kRecordHeaderSize = 9;  // threshold (1), dom_len (4), sub_len (4)
// The decoder unpacks each stream into a 4096-byte buffer: the dominant stream after inflating
// (or as stored), the subordinate stream as stored.
constexpr uint32_t kMaxStreamBytes = 4096;
constexpr uint32_t kMaxDominantBytes = kMaxStreamBytes;
constexpr uint32_t kMaxSubordinateBytes = kMaxStreamBytes;
// Bit-plane passes of every record quorvik-tool writes (the max_passes byte of its files).
constexpr int kDataSetPasses = 7;

// ---- The world ----
constexpr int kSubImageColumns = 4;
constexpr int kSubImageRows = 2;
constexpr int kSubImages = kSubImageColumns * kSubImageRows;
constexpr int kBaseTexSize = 1024;  // level-1 pixels per sub-image side
// The world image spans 131072 x 65536 world units with its top-left corner at
// x = z = -kWorldOffset; a level-1 pixel spans 32 units.
constexpr int kWorldOffset = 16384;
constexpr int kWorldWidth = 131072;
constexpr int kWorldHeight = 65536;

// ---- The camera's start pose ----
constexpr float kStartX = 111081.0f;
constexpr float kStartHeight = 504.0f;
constexpr float kStartZ = 32424.0f;
