#include "store/data_set.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "store/log.h"

const char* const kDefaultDataFolder = "./ezw_data";
const char* const kSubImageNames[kSubImages] = {"A1", "B1", "C1", "D1", "A2", "B2", "C2", "D2"};

DataSet viewer_data;
ResidualLevel (&residuals_level)[kSubImages][kLevels] = viewer_data.residuals;
RawImage (&base_tex)[kSubImages] = viewer_data.base_tex;
RawImage (&base_tex_packed)[kSubImages] = viewer_data.base_tex_packed;
RawImage& minimap = viewer_data.minimap;
MinimapRect minimap_rect = {0, 0, 0, 0};

namespace {

LoadError failure(const std::string& file, const std::string& reason, std::string detail,
                  const char* message) {
    LoadError e;
    e.file = file;
    e.reason = reason;
    e.detail = std::move(detail);
    e.message = message;
    return e;
}

LoadError out_of_memory() {
    return failure("", "out of memory", "", kOutOfMemory);
}

// The reason for a tool: the detail's last line without the file's name in front.
std::string reason_of(const std::string& detail, const std::string& file) {
    std::string line = detail;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    const size_t nl = line.rfind('\n');
    if (nl != std::string::npos) line = line.substr(nl + 1);
    if (line.rfind(file + ": ", 0) == 0) line = line.substr(file.size() + 2);
    if (line.rfind("could not open file ", 0) == 0) line = "cannot be opened";
    return line;
}

// Reads a raw image that must hold pixels (file ID 2); `detail` says why when it does not.
bool read_pixel_image(const std::string& path, RawImage& image, std::string& detail) {
    if (!read_raw_image(path.c_str(), image, detail)) return false;
    if (image.id != 2) {
        detail += path + ": file ID " + std::to_string(image.id) + " holds no pixel image\n";
        free_raw_image(image);
        return false;
    }
    return true;
}

void print_filenames(const std::string& folder, int sub, int level) {
    fprintf(console_out, "filenames: %s %s %s\n",
            data_path(folder, tile_file_name(sub, level, 'R')).c_str(),
            data_path(folder, tile_file_name(sub, level, 'G')).c_str(),
            data_path(folder, tile_file_name(sub, level, 'B')).c_str());
}

LoadError read_level(const std::string& folder, int sub, int level, ResidualLevel& entry) {
    return read_residual_level(data_path(folder, tile_file_name(sub, level, 'R')).c_str(),
                               data_path(folder, tile_file_name(sub, level, 'G')).c_str(),
                               data_path(folder, tile_file_name(sub, level, 'B')).c_str(), entry,
                               level);
}

LoadError read_minimap(const std::string& folder, RawImage& packed) {
    const std::string path = data_path(folder, "minimap.pzd");
    RawImage temp;
    std::string detail;
    if (!read_pixel_image(path, temp, detail))
        return failure(path, reason_of(detail, path), detail, kMinimapFailure);
    packed.data = static_cast<uint8_t*>(malloc(size_t(temp.w) * size_t(temp.h) * 4));
    if (!packed.data) {
        free_raw_image(temp);
        return out_of_memory();
    }
    pack_pixels(temp, packed);
    free_raw_image(temp);
    fprintf(console_out, "successfully loaded minimap\n");
    return LoadError();
}

LoadError read_base_texture(const std::string& folder, int sub, RawImage& image) {
    const std::string path = data_path(folder, base_tex_name(sub));
    std::string detail;
    if (!read_pixel_image(path, image, detail))
        return failure(path, reason_of(detail, path), detail, kBaseTextureFailure);
    if (image.w != kBaseTexSize || image.h != kBaseTexSize) {
        const std::string reason = "base texture is " + std::to_string(image.w) + " x " +
                                   std::to_string(image.h) + ", it must be 1024 x 1024";
        return failure(path, reason, path + ": " + reason + "\n", kBaseTextureFailure);
    }
    return LoadError();
}

void free_level(ResidualLevel& entry) {
    free_tile_set(entry.R);
    free_tile_set(entry.G);
    free_tile_set(entry.B);
}

}  // namespace

DataSet::DataSet(DataSet&& other) noexcept {
    *this = std::move(other);
}

DataSet& DataSet::operator=(DataSet&& other) noexcept {
    if (this == &other) return *this;
    release();
    folder = std::move(other.folder);
    auto take = [](RawImage& to, RawImage& from) {
        to = from;
        from.data = nullptr;
    };
    take(minimap, other.minimap);
    for (int i = 0; i < kSubImages; ++i) {
        take(base_tex[i], other.base_tex[i]);
        take(base_tex_packed[i], other.base_tex_packed[i]);
        for (int l = 0; l < kLevels; ++l) {
            residuals[i][l] = other.residuals[i][l];
            other.residuals[i][l] = ResidualLevel();
        }
    }
    return *this;
}

void DataSet::release() {
    free_raw_image(minimap);
    for (int i = 0; i < kSubImages; ++i) {
        free_raw_image(base_tex_packed[i]);
        free_raw_image(base_tex[i]);
    }
    for (int i = 0; i < kSubImages; ++i)
        for (int level = 2; level <= 5; ++level) free_level(residuals[i][level]);
}

bool DataSet::complete() const {
    if (!minimap.data) return false;
    for (int i = 0; i < kSubImages; ++i) {
        if (!base_tex[i].data || !base_tex_packed[i].data) return false;
        for (int level = 2; level <= 5; ++level) {
            const ResidualLevel& e = residuals[i][level];
            if (!e.R || !e.G || !e.B || !e.R->index || !e.G->index || !e.B->index) return false;
        }
    }
    return true;
}

std::string data_path(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string data_path(const std::string& name) {
    return data_path(kDefaultDataFolder, name);
}

std::string base_tex_name(int sub) {
    return std::string(kSubImageNames[sub]) + "_base_tex.pzd";
}

std::string tile_file_name(int sub, int level, char c) {
    return std::string(kSubImageNames[sub]) + "_ezt_1_" + char('0' + level) + "_" + c + ".ezw";
}

std::string find_data_folder(const std::string& dir, std::string& why) {
    struct stat st;
    if (dir.empty()) {
        why = "no folder given; expected a folder that holds ezw_data/minimap.pzd";
        return "";
    }
    if (stat(dir.c_str(), &st) != 0) {
        why = "no such folder; expected a folder that holds ezw_data/minimap.pzd";
        return "";
    }
    if (!S_ISDIR(st.st_mode)) {
        why = "not a folder; expected a folder that holds ezw_data/minimap.pzd";
        return "";
    }
    std::string base = dir;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    const std::string nested = base == "/" ? "/ezw_data" : base + "/ezw_data";
    auto has_minimap = [](const std::string& folder) {
        struct stat m;
        return stat(data_path(folder, "minimap.pzd").c_str(), &m) == 0 && S_ISREG(m.st_mode);
    };
    if (stat(nested.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        if (has_minimap(nested)) return nested;
        why = "holds an ezw_data folder without minimap.pzd";
        return "";
    }
    if (has_minimap(base)) return base;
    why = "holds no ezw_data/minimap.pzd";
    return "";
}

LoadError read_data_set(const std::string& folder, DataSet& data) {
    data.release();
    data.folder = folder;
    if (LoadError e = read_minimap(folder, data.minimap)) return e;
    for (int i = 0; i < kSubImages; ++i) {
        fprintf(console_out, "\n\n");
        print_filenames(folder, i, 2);
        if (LoadError e = read_level(folder, i, 2, data.residuals[i][2])) return e;
        fprintf(console_out, "\n\n");
        fprintf(console_out, "residuals_level[0][1].R->header.merged_w=%d\n",
                data.residuals[i][2].R->header.merged_w);
        for (int level = 3; level <= 5; ++level) {
            print_filenames(folder, i, level);
            if (LoadError e = read_level(folder, i, level, data.residuals[i][level])) return e;
        }
        if (LoadError e = read_base_texture(folder, i, data.base_tex[i])) return e;
        RawImage& packed = data.base_tex_packed[i];
        packed.w = data.base_tex[i].w;
        packed.h = data.base_tex[i].h;
        packed.bpp = 4;
        packed.stride = 4 * packed.w;
        packed.data = static_cast<uint8_t*>(malloc(size_t(packed.w) * size_t(packed.h) * 4));
        if (!packed.data) return out_of_memory();
        fprintf(console_out, "\n\n");
    }
    fprintf(console_out, "loaded ezw files successfully\n");
    return LoadError();
}

void pack_base_textures(DataSet& data) {
    fprintf(console_out, "rearrange bits for faster rendering\n");
    for (int i = 0; i < kSubImages; ++i) pack_pixels(data.base_tex[i], data.base_tex_packed[i]);
    fprintf(console_out, "rearranged bits for faster rendering\n");
}
