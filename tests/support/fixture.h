#pragma once
// Test data sets: a writer for a complete, valid data set of the full geometry, builders for the
// two file formats, and helpers that damage one file.
#include <cstdint>
#include <string>
#include <vector>

#include "store/qvk_format.h"

using Bytes = std::vector<uint8_t>;

// A fresh empty directory under the system's temp folder.
std::string make_temp_dir(const std::string& prefix = "quorvik");
void remove_tree(const std::string& dir);

void write_file(const std::string& path, const Bytes& bytes);
Bytes read_file(const std::string& path);

// Raw image file: ID byte, two little-endian int32 numbers, payload as given.
Bytes raw_image_bytes(uint8_t id, int32_t a, int32_t b, const Bytes& payload);
// An ID 2 image of w x h pixels from a pixel function.
Bytes raw_rgb_image(int w, int h, uint32_t (*rgb)(int x, int y, int param), int param);

// Tile file header fields; the default is a level-2 file.
struct TileHeaderFields {
    uint8_t compressed = 0;
    int32_t merged_w = 2048, merged_h = 2048;
    int32_t tiles_x = 32, tiles_y = 32;
    uint8_t max_passes = 8;
};
Bytes tile_header_bytes(const TileHeaderFields& h);
// One record: threshold, the two stream lengths as stored, then the two streams.
Bytes tile_record(uint8_t threshold, const Bytes& dominant, const Bytes& subordinate);
// A header-correct tile file for `level` whose every record is the minimal one (threshold 0,
// both lengths 0).
Bytes minimal_tile_file(int level);

// The fixture's recognisable pictures: base texture pixel (x, y) of sub-image s, and the minimap.
uint32_t fixture_base_rgb(int x, int y, int sub);
uint32_t fixture_minimap_rgb(int x, int y, int unused);

// Writes dir/ezw_data with all 105 files (minimap 256 x 128, eight 1024 x 1024 base textures,
// 96 minimal tile files).
void write_fixture_data_set(const std::string& dir);

// A one-file picture of w x h pixels: pixel (x, y) of the finest level is fixture_picture_rgb(x,
// y); a coarser level's pixel is the finest pixel at its top-left corner (x * 2^k, y * 2^k).
// Stored in tile x tile tiles, coded with `coder` at `quality`.
uint32_t fixture_picture_rgb(uint32_t x, uint32_t y);
void write_fixture_picture(const std::string& path, uint32_t w, uint32_t h, int tile = kQvkTileSize,
                           QvkCoder coder = QvkCoder::deflate_rgb, int quality = 100);

// Damaging helpers for one file.
void truncate_file(const std::string& path, int64_t new_len);
void patch_file(const std::string& path, int64_t offset, const Bytes& bytes);
void append_file(const std::string& path, const Bytes& bytes);
