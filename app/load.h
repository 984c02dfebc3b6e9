#pragma once
// The viewer's start-up steps that end the program on failure: thin wrappers over the store's
// loaders (which return a LoadError) and the renderer's work image allocation. Each prints what
// the viewer has always printed and ends through exit_program with status 1.
#include <cstdint>
#include <string>

#include "store/data_set.h"
#include "store/tile_file.h"

// Loads `folder` into viewer_data and places the minimap, or prints the error and ends the
// program with status 1 (the viewer's start-up).
void load_data_set(const std::string& folder = kDefaultDataFolder);

// Allocates the work images (render/render_buffers.h), packs the base textures, fills
// level_scale; ends the program with "out of mem!" when a work image cannot be allocated.
void prepare_render_buffers();

// index_tile_set, ending the program through exit_program on failure (the viewer's form).
void build_tile_index(TileSet& set, int64_t payload_len, int level, const char* filename);

// read_residual_level, ending the program with status 1 on failure (the viewer's form).
void load_residual_level(const char* r_name, const char* g_name, const char* b_name,
                         ResidualLevel& entry, int level);
