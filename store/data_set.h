#pragma once
// The data set as a value: everything read from one ezw_data folder, owned by one DataSet.
// read_data_set fills one and returns what stopped it, if anything; nothing here ends the program.
// The viewer keeps its one data set in `viewer_data`; the tables the viewer's design names
// (residuals_level, base_tex, base_tex_packed, minimap) are that data set's members.
#include <cstdint>
#include <string>

#include "store/format.h"
#include "store/load_error.h"
#include "store/raw_image.h"
#include "store/tile_file.h"

constexpr int kLevels = 6;  // indexed by level number; 2..5 hold tile sets

// The minimap's place in the frame (window pixels).
struct MinimapRect {
    int32_t x, y, w, h;
};

struct DataSet {
    std::string folder;                    // the ezw_data folder, as its paths are printed
    RawImage minimap;                      // packed 0x00RRGGBB
    RawImage base_tex[kSubImages];         // 3-byte pixels as read
    RawImage base_tex_packed[kSubImages];  // 0x00RRGGBB words (filled by pack_base_textures)
    ResidualLevel residuals[kSubImages][kLevels];  // levels 2..5

    DataSet() = default;
    DataSet(const DataSet&) = delete;
    DataSet& operator=(const DataSet&) = delete;
    DataSet(DataSet&& other) noexcept;
    DataSet& operator=(DataSet&& other) noexcept;
    ~DataSet() { release(); }

    // Frees every buffer and tile set (each only if present) and leaves every reference null.
    void release();
    // True when every file has been loaded (the renderer may read it).
    bool complete() const;
};

// The default folder: ezw_data below the working directory, written the platform's way.
extern const char* const kDefaultDataFolder;  // "./ezw_data"

// Sub-image names by index (column + 4 * row).
extern const char* const kSubImageNames[kSubImages];

std::string data_path(const std::string& folder, const std::string& name);  // "FOLDER/NAME"
std::string data_path(const std::string& name);          // in the default folder: "./ezw_data/NAME"
std::string base_tex_name(int sub);                      // "A1_base_tex.pzd"
std::string tile_file_name(int sub, int level, char c);  // "A1_ezt_1_2_R.ezw"

// The ezw_data folder a user means by `dir`: dir/ezw_data when that is a folder, otherwise dir
// itself when it holds the minimap (the ezw_data folder given directly). Empty, with `why` set
// (what is wrong and what was expected, e.g. "holds no ezw_data/minimap.pzd"), when `dir` does
// not exist, is not a folder, or holds no ezw_data/minimap.pzd.
std::string find_data_folder(const std::string& dir, std::string& why);

// Loads every file of `folder` into `data` (which must be empty), printing the loading log on
// console_out: the minimap, then per sub-image its four tile levels and its base texture, whose
// packed copy is allocated (pack_base_textures fills it). On failure `data` keeps what was loaded
// before it; its destructor (or release) frees that.
LoadError read_data_set(const std::string& folder, DataSet& data);

// Packs each base texture into its 0x00RRGGBB copy, with the viewer's two log lines.
void pack_base_textures(DataSet& data);

// ---- The viewer's one data set and its tables ----
extern DataSet viewer_data;
extern ResidualLevel (&residuals_level)[kSubImages][kLevels];
extern RawImage (&base_tex)[kSubImages];
extern RawImage (&base_tex_packed)[kSubImages];
extern RawImage& minimap;
extern MinimapRect minimap_rect;  // written at load (app/load.h); x, y clamped by resize_window
