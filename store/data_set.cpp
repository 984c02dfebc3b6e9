#include "store/data_set.h"

#include <cstdio>
#include <cstdlib>

#include "app/console.h"
#include "app/exit.h"

ResidualLevel residuals_level[kSubImages][kLevels];
RawImage base_tex[kSubImages];
RawImage base_tex_packed[kSubImages];
RawImage minimap;
MinimapRect minimap_rect = {0, 0, 0, 0};

const char* const kSubImageNames[kSubImages] = {"A1", "B1", "C1", "D1", "A2", "B2", "C2", "D2"};

namespace {

// Reads a raw image that must hold pixels (file ID 2); prints the reason on standard error when
// it is something else.
bool read_pixel_image(const std::string& path, RawImage& image) {
    if (!RAWIO::raw_in(path.c_str(), image)) return false;
    if (image.id != 2) {
        fprintf(stderr, "%s: file ID %d holds no pixel image\n", path.c_str(), image.id);
        free_raw_image(image);
        return false;
    }
    return true;
}

void print_filenames(int sub, int level) {
    fprintf(console_out, "filenames: %s %s %s\n",
            data_path(tile_file_name(sub, level, 'R')).c_str(),
            data_path(tile_file_name(sub, level, 'G')).c_str(),
            data_path(tile_file_name(sub, level, 'B')).c_str());
}

void load_level(int sub, int level) {
    load_residual_level(data_path(tile_file_name(sub, level, 'R')).c_str(),
                        data_path(tile_file_name(sub, level, 'G')).c_str(),
                        data_path(tile_file_name(sub, level, 'B')).c_str(),
                        residuals_level[sub][level], level);
}

}  // namespace

std::string data_path(const std::string& name) {
    return "./ezw_data/" + name;
}

std::string base_tex_name(int sub) {
    return std::string(kSubImageNames[sub]) + "_base_tex.pzd";
}

std::string tile_file_name(int sub, int level, char c) {
    return std::string(kSubImageNames[sub]) + "_ezt_1_" + char('0' + level) + "_" + c + ".ezw";
}

void load_data_set() {
    RawImage temp;
    if (!read_pixel_image(data_path("minimap.pzd"), temp))
        exit_program(1, "failed to load minimap!");
    minimap.w = temp.w;
    minimap.h = temp.h;
    minimap.bpp = 4;
    minimap.stride = 4 * temp.w;
    minimap.data = static_cast<uint8_t*>(malloc(size_t(temp.w) * size_t(temp.h) * 4));
    if (!minimap.data) {
        free_raw_image(temp);
        exit_program(1, "out of mem!");
    }
    pack_pixels(temp, minimap);
    free_raw_image(temp);
    fprintf(console_out, "successfully loaded minimap\n");
    minimap_rect = MinimapRect{0, 0, minimap.w, minimap.h};

    for (int i = 0; i < kSubImages; ++i) {
        fprintf(console_out, "\n\n");
        print_filenames(i, 2);
        load_level(i, 2);
        fprintf(console_out, "\n\n");
        fprintf(console_out, "residuals_level[0][1].R->header.merged_w=%d\n",
                residuals_level[i][2].R->header.merged_w);
        for (int level = 3; level <= 5; ++level) {
            print_filenames(i, level);
            load_level(i, level);
        }
        const std::string base = data_path(base_tex_name(i));
        if (!read_pixel_image(base, base_tex[i])) exit_program(1, "failed to load file!");
        if (base_tex[i].w != kBaseTexSize || base_tex[i].h != kBaseTexSize) {
            fprintf(stderr, "%s: base texture is %d x %d, it must be 1024 x 1024\n", base.c_str(),
                    base_tex[i].w, base_tex[i].h);
            exit_program(1, "failed to load file!");
        }
        RawImage& packed = base_tex_packed[i];
        packed.w = base_tex[i].w;
        packed.h = base_tex[i].h;
        packed.bpp = 4;
        packed.stride = 4 * packed.w;
        packed.data = static_cast<uint8_t*>(malloc(size_t(packed.w) * size_t(packed.h) * 4));
        if (!packed.data) exit_program(1, "out of mem!");
        fprintf(console_out, "\n\n");
    }
    fprintf(console_out, "loaded ezw files successfully\n");
}
