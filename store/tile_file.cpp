#include "store/tile_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "store/log.h"
#include "store/raw_image.h"

namespace {

std::string line(const char* fmt, long long a = 0, long long b = 0, long long c = 0,
                 long long d = 0) {
    char text[200];
    snprintf(text, sizeof text, fmt, a, b, c, d);
    return text;
}

int64_t file_length(FILE* f) {
    if (fseek(f, 0, SEEK_END) != 0) return -1;
    const long len = ftell(f);
    rewind(f);
    return len;
}

}  // namespace

const char* index_message(int level) {
    return level == 2 ? "an error occured while building the index-structure for accessing the "
                        "compressed tiles"
                      : "error occured while building the index-structure for accessing the "
                        "compressed tiles";
}

bool check_tile_header(const TileSetHeader& h, int64_t file_len, int level, std::string& why) {
    if (file_len < kTileHeaderSize) {
        why = line("the file holds %lld bytes, less than its 24-byte header", file_len);
        return false;
    }
    // Offsets into the payload are stored in 32-bit index slots.
    if (file_len - kTileHeaderSize > 0x7fffffff) {
        why = "the file is larger than 2 GiB";
        return false;
    }
    if (h.tiles_x <= 0 || h.tiles_y <= 0) {
        why = line("the tile grid must be positive (tiles_x %lld, tiles_y %lld)", h.tiles_x,
                   h.tiles_y);
        return false;
    }
    const int32_t expect = level_merged_size(level);
    if (h.merged_w != expect || h.merged_h != expect) {
        why = line("merged size is %lld x %lld, level %lld needs ", h.merged_w, h.merged_h, level) +
              std::to_string(expect) + " x " + std::to_string(expect);
        return false;
    }
    if (h.tiles_x != h.merged_w / 64 || h.tiles_y != h.merged_h / 64) {
        why = line("tile grid %lld x %lld does not match the merged size %lld x %lld", h.tiles_x,
                   h.tiles_y, h.merged_w, h.merged_h);
        return false;
    }
    return true;
}

IndexResult walk_tile_records(const TileSetHeader& h, const uint8_t* payload, int64_t len,
                              int32_t* index, std::string& why) {
    const int64_t slots = int64_t(h.tiles_x) * int64_t(h.tiles_y);
    int64_t offset = 0;
    int64_t k = 0;
    while (offset < len) {
        if (k >= slots) {
            // Fewer than a record header's bytes cannot be one more record: they are junk.
            if (len - offset < kRecordHeaderSize) {
                why = line("%lld bytes follow the last tile record", len - offset);
                return IndexResult::malformed;
            }
            return IndexResult::too_many_records;
        }
        if (len - offset < kRecordHeaderSize) {
            why = line("record %lld is cut short inside its 9-byte header", k);
            return IndexResult::malformed;
        }
        const uint8_t* rec = payload + offset;
        const uint32_t dom_len = read_u32le(rec + 1);
        const uint32_t sub_len = read_u32le(rec + 5);
        if (sub_len > kMaxStreamBytes) {
            why = line("record %lld has sub_len %lld, more than 4096", k, sub_len);
            return IndexResult::malformed;
        }
        if (!h.compressed && dom_len > kMaxStreamBytes) {
            why = line("record %lld has dom_len %lld, more than 4096 in a stored file", k, dom_len);
            return IndexResult::malformed;
        }
        const int64_t end = offset + kRecordHeaderSize + int64_t(dom_len) + int64_t(sub_len);
        if (end > len) {
            why = line("record %lld ends past the end of the file", k);
            return IndexResult::malformed;
        }
        index[k] = int32_t(offset);
        offset = end;
        ++k;
    }
    if (k != slots) {
        why = line("the file holds %lld tile records, the grid needs %lld", k, slots);
        return IndexResult::malformed;
    }
    return IndexResult::ok;
}

namespace {

LoadError failure(const char* file, const std::string& reason, const char* message,
                  bool print_detail = true) {
    LoadError e;
    e.file = file;
    e.reason = reason;
    if (print_detail) e.detail = std::string(file) + ": " + reason + "\n";
    e.message = message;
    return e;
}

}  // namespace

LoadError index_tile_set(TileSet& set, int64_t payload_len, int level, const char* filename) {
    std::string why;
    switch (walk_tile_records(set.header, set.data, payload_len, set.index, why)) {
        case IndexResult::ok:
            return LoadError();
        case IndexResult::too_many_records:
            // The overflow is reported by the index message alone.
            return failure(filename, "more tile records than the tile grid has",
                           index_message(level), false);
        case IndexResult::malformed:
            break;
    }
    return failure(filename, why, index_message(level));
}

LoadError read_residual_level(const char* r_name, const char* g_name, const char* b_name,
                              ResidualLevel& entry, int level) {
    const char* names[3] = {r_name, g_name, b_name};
    TileSet** sets[3] = {&entry.R, &entry.G, &entry.B};
    for (TileSet** s : sets) {
        *s = new (std::nothrow) TileSet();
        if (!*s) return failure("", "out of memory", kOutOfMemory, false);
    }
    // The three files stay open until their bytes are read; every way out closes them.
    struct Files {
        FILE* f[3] = {nullptr, nullptr, nullptr};
        ~Files() {
            for (FILE* file : f)
                if (file) fclose(file);
        }
    } files;
    for (int c = 0; c < 3; ++c) {
        std::string detail;
        files.f[c] = open_regular_file(names[c], detail);
        if (!files.f[c]) {
            LoadError e = failure(names[c], "cannot be opened as a file", kTileFileFailure, false);
            e.detail = detail;
            return e;
        }
    }
    fprintf(console_out, "successfully opened the 3 files for reading\n");

    int64_t lengths[3];
    for (int c = 0; c < 3; ++c) {
        lengths[c] = file_length(files.f[c]);
        if (c == 0) {
            fprintf(console_out, "file_lenR = %lld\n", (long long)lengths[0]);
            fprintf(console_out, "file_lenR without header = %lld\n",
                    (long long)(lengths[0] - kTileHeaderSize));
            fprintf(console_out, "headersize type = %d\n", kTileHeaderSize);
        }
    }

    for (int c = 0; c < 3; ++c) {
        TileSet& set = **sets[c];
        memset(&set.header, 0, sizeof set.header);
        if (lengths[c] < kTileHeaderSize ||
            fread(&set.header, 1, kTileHeaderSize, files.f[c]) != size_t(kTileHeaderSize))
            return failure(names[c], "the file is shorter than its 24-byte header",
                           kTileFileFailure);
    }
    for (int c = 0; c < 3; ++c) {
        std::string why;
        if (!check_tile_header((*sets[c])->header, lengths[c], level, why))
            return failure(names[c], why, index_message(level));
    }
    for (int c = 0; c < 3; ++c) {
        TileSet& set = **sets[c];
        const size_t slots = size_t(set.header.tiles_x) * size_t(set.header.tiles_y);
        set.index = static_cast<int32_t*>(calloc(slots, sizeof(int32_t)));
        if (!set.index) return failure("", "out of memory", kOutOfMemory, false);
    }
    for (int c = 0; c < 3; ++c) {
        TileSet& set = **sets[c];
        set.data_len = lengths[c] - kTileHeaderSize;
        set.data = static_cast<uint8_t*>(malloc(size_t(set.data_len > 0 ? set.data_len : 1)));
        if (!set.data) return failure("", "out of memory", kOutOfMemory, false);
    }
    fprintf(console_out, "reading in compressed tile-data\n");
    for (int c = 0; c < 3; ++c) {
        TileSet& set = **sets[c];
        if (fread(set.data, 1, size_t(set.data_len), files.f[c]) != size_t(set.data_len))
            return failure(names[c],
                           line("the file ended before its %lld payload bytes were read",
                                (long long)set.data_len),
                           kTileFileFailure);
    }
    fprintf(console_out, "read compressed tile-data\n");
    for (int c = 0; c < 3; ++c) {
        const LoadError e = index_tile_set(**sets[c], (*sets[c])->data_len, level, names[c]);
        if (e) return e;
    }
    return LoadError();
}

bool parse_tile_file(const uint8_t* bytes, size_t len, int level, TileSet& set, std::string& why) {
    set.index = nullptr;
    set.data = nullptr;
    set.data_len = 0;
    if (len < size_t(kTileHeaderSize)) {
        why = line("the file holds %lld bytes, less than its 24-byte header", (long long)len);
        return false;
    }
    memcpy(&set.header, bytes, kTileHeaderSize);
    if (!check_tile_header(set.header, int64_t(len), level, why)) return false;
    const size_t slots = size_t(set.header.tiles_x) * size_t(set.header.tiles_y);
    set.data_len = int64_t(len) - kTileHeaderSize;
    set.index = static_cast<int32_t*>(calloc(slots, sizeof(int32_t)));
    set.data = static_cast<uint8_t*>(malloc(size_t(set.data_len > 0 ? set.data_len : 1)));
    if (!set.index || !set.data) {
        why = "out of memory";
    } else {
        memcpy(set.data, bytes + kTileHeaderSize, size_t(set.data_len));
        switch (walk_tile_records(set.header, set.data, set.data_len, set.index, why)) {
            case IndexResult::ok:
                return true;
            case IndexResult::too_many_records:
                why = "more tile records than the grid has slots";
                break;
            case IndexResult::malformed:
                break;
        }
    }
    free(set.index);
    free(set.data);
    set.index = nullptr;
    set.data = nullptr;
    return false;
}

void free_tile_set(TileSet*& set) {
    if (!set) return;
    free(set->index);
    free(set->data);
    delete set;
    set = nullptr;
}
