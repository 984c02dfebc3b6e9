// Compressed tile files: the record walk and its index, the header checks, and the loader's lines
// and fatal exits for each malformed file.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>
#include <vector>

#include "app/load.h"
#include "store/tile_file.h"
#include "tests/store/console_capture.h"
#include "tests/support/fixture.h"

namespace {

using ::testing::ExitedWithCode;

const char kLevel2Index[] =
    "^an error occured while building the index-structure for accessing the compressed tiles$";
const char kLevel3Index[] =
    "^error occured while building the index-structure for accessing the compressed tiles$";

TileSetHeader header_of(const TileHeaderFields& f) {
    const Bytes b = tile_header_bytes(f);
    TileSetHeader h;
    memcpy(&h, b.data(), sizeof h);
    return h;
}

TileSetHeader grid(int tx, int ty, uint8_t compressed = 0) {
    TileHeaderFields f;
    f.tiles_x = tx;
    f.tiles_y = ty;
    f.merged_w = 64 * tx;
    f.merged_h = 64 * ty;
    f.compressed = compressed;
    return header_of(f);
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes minimal_record() {
    return tile_record(0, {}, {});
}

// Four records of different lengths; the first is the 281-byte record written out byte by byte
// (dom_len bytes 10 00 00 00, sub_len bytes 00 01 00 00).
Bytes four_records() {
    Bytes first = {7, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
    first.resize(281, 0xAB);
    return concat(
        {first, minimal_record(), tile_record(3, Bytes(3, 1), Bytes(5, 2)), minimal_record()});
}

struct Walk {
    IndexResult result;
    std::vector<int32_t> index;
    std::string why;
};

Walk walk(const TileSetHeader& h, const Bytes& payload) {
    Walk w;
    w.index.assign(size_t(h.tiles_x) * size_t(h.tiles_y), -1);
    w.result = walk_tile_records(h, payload.data(), int64_t(payload.size()), w.index.data(), w.why);
    return w;
}

TEST(TileRecordWalk, IndexesRecordsOfDifferentLengths) {
    const Bytes payload = four_records();
    ASSERT_EQ(payload.size(), 281u + 9 + 17 + 9);
    const Walk w = walk(grid(2, 2), payload);
    ASSERT_EQ(w.result, IndexResult::ok) << w.why;
    EXPECT_EQ(w.index, (std::vector<int32_t>{0, 281, 290, 307}));
}

TEST(TileRecordWalk, OneRecordTooManyIsTheIndexOverflow) {
    const Walk w = walk(grid(2, 2), concat({four_records(), minimal_record()}));
    EXPECT_EQ(w.result, IndexResult::too_many_records);
}

// Files the walk must reject before any decoder reads outside them; `why` names the problem.
TEST(TileRecordWalk, MalformedPayloadsAreRejected) {
    Bytes big_sub = minimal_record();
    big_sub[5] = 0x01;  // sub_len 4097
    big_sub[6] = 0x10;
    Bytes big_dom = minimal_record();
    big_dom[1] = 0x01;  // dom_len 4097
    big_dom[2] = 0x10;
    Bytes past_end = tile_record(0, Bytes(4), {});
    past_end.pop_back();  // announces 4 dominant bytes, holds 3
    Bytes huge_len = minimal_record();
    huge_len[1] = huge_len[2] = huge_len[3] = huge_len[4] = 0xFF;  // dom_len 2^32 - 1, compressed

    struct Case {
        const char* what;
        TileSetHeader header;
        Bytes payload;
        const char* says;
    } cases[] = {
        {"fewer records than slots", grid(2, 2), concat({minimal_record(), minimal_record()}),
         "tile records"},
        {"empty payload", grid(2, 2), {}, "tile records"},
        {"last record reaches past the end", grid(2, 2),
         concat({minimal_record(), minimal_record(), minimal_record(), past_end}),
         "record 3 ends past the end"},
        {"dom_len near 2^32 in a compressed file", grid(1, 1, 1), huge_len, "past the end"},
        {"record header cut short", grid(2, 2),
         concat({minimal_record(), minimal_record(), Bytes(5)}), "cut short"},
        {"sub_len above 4096", grid(1, 1), concat({big_sub, Bytes(4097)}), "sub_len 4097"},
        {"stored dom_len above 4096", grid(1, 1), concat({big_dom, Bytes(4097)}), "dom_len 4097"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Walk w = walk(c.header, c.payload);
        EXPECT_EQ(w.result, IndexResult::malformed);
        EXPECT_NE(w.why.find(c.says), std::string::npos) << w.why;
    }
}

TEST(TileRecordWalk, TrailingBytesAfterTheLastRecordAreRejected) {
    // Too few to be another record: named as what they are, not as an index overflow.
    const Walk w = walk(grid(2, 2), concat({four_records(), Bytes(4)}));
    EXPECT_EQ(w.result, IndexResult::malformed);
    EXPECT_NE(w.why.find("4 bytes follow the last tile record"), std::string::npos) << w.why;
}

TEST(TileRecordWalk, StreamLimitsAreInclusive) {
    Bytes sub_4096 = minimal_record();
    sub_4096[6] = 0x10;  // sub_len 4096
    EXPECT_EQ(walk(grid(1, 1), concat({sub_4096, Bytes(4096)})).result, IndexResult::ok);

    Bytes dom_5000 = minimal_record();
    dom_5000[1] = 0x88;  // dom_len 5000: fine when compressed (bounded once inflated)
    dom_5000[2] = 0x13;
    EXPECT_EQ(walk(grid(1, 1, 1), concat({dom_5000, Bytes(5000)})).result, IndexResult::ok);
    EXPECT_EQ(walk(grid(1, 1, 0), concat({dom_5000, Bytes(5000)})).result, IndexResult::malformed);
}

TEST(TileHeaderCheck, GeometryMustBeTheLevelsOwn) {
    std::string why;
    TileHeaderFields level2;  // defaults: 2048 x 2048, 32 x 32 tiles
    EXPECT_TRUE(check_tile_header(header_of(level2), 24 + 9 * 1024, 2, why)) << why;
    EXPECT_FALSE(check_tile_header(header_of(level2), 24 + 9 * 1024, 3, why));
    EXPECT_FALSE(why.empty());

    TileHeaderFields level5;
    level5.merged_w = level5.merged_h = 16384;
    level5.tiles_x = level5.tiles_y = 256;
    EXPECT_TRUE(check_tile_header(header_of(level5), 1000, 5, why)) << why;

    struct Case {
        const char* what;
        TileHeaderFields f;
        int64_t file_len;
    } cases[] = {
        {"tiles_x does not match merged_w", {0, 2048, 2048, 31, 32, 8}, 1000},
        {"tiles_y does not match merged_h", {0, 2048, 2048, 32, 64, 8}, 1000},
        {"merged_w of another level", {0, 4096, 2048, 64, 32, 8}, 1000},
        {"zero tiles", {0, 2048, 2048, 0, 32, 8}, 1000},
        {"negative tiles", {0, 2048, 2048, 32, -32, 8}, 1000},
        {"negative grid whose product is positive", {0, 2048, 2048, -32, -32, 8}, 1000},
        {"file shorter than the header", {0, 2048, 2048, 32, 32, 8}, 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        why.clear();
        EXPECT_FALSE(check_tile_header(header_of(c.f), c.file_len, 2, why));
        EXPECT_FALSE(why.empty());
    }
}

TEST(TileIndexBuild, FatalExitsUseTheLevelsIndexMessage) {
    const Bytes payload = concat({four_records(), minimal_record()});
    TileSet set;
    set.header = grid(2, 2);
    std::vector<int32_t> index(4);
    set.index = index.data();
    set.data = const_cast<uint8_t*>(payload.data());
    EXPECT_EXIT(build_tile_index(set, int64_t(payload.size()), 2, "x.ezw"), ExitedWithCode(1),
                kLevel2Index);
    EXPECT_EXIT(build_tile_index(set, int64_t(payload.size()), 4, "x.ezw"), ExitedWithCode(1),
                kLevel3Index);
    // A malformed file first names itself and what is wrong.
    EXPECT_EXIT(build_tile_index(set, 281 + 9, 3, "./ezw_data/B1_ezt_1_3_G.ezw"), ExitedWithCode(1),
                "^\\./ezw_data/B1_ezt_1_3_G\\.ezw: the file holds 2 tile records, the grid needs "
                "4\nerror occured");
    set.index = nullptr;
    set.data = nullptr;
}

class TileLevelFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_temp_dir("quorvik-tiles");
        for (char c : {'R', 'G', 'B'}) write_file(name(c), minimal_tile_file(3));
    }
    void TearDown() override {
        free_tile_set(entry_.R);
        free_tile_set(entry_.G);
        free_tile_set(entry_.B);
        remove_tree(dir_);
    }
    std::string name(char c) const { return dir_ + "/L3_" + c + ".ezw"; }
    void load() {
        load_residual_level(name('R').c_str(), name('G').c_str(), name('B').c_str(), entry_, 3);
    }

    std::string dir_;
    ResidualLevel entry_;
};

TEST_F(TileLevelFiles, LoadsThreeChannelsAndPrintsOnlyTheRedLengths) {
    // A blue file of another length (one record carries a stream) loads without a line about it.
    TileHeaderFields level3;
    level3.merged_w = level3.merged_h = 4096;
    level3.tiles_x = level3.tiles_y = 64;
    Bytes blue = tile_header_bytes(level3);
    for (int k = 0; k < 4096; ++k) {
        const Bytes record =
            k == 7 ? tile_record(5, Bytes(2, 0x55), Bytes(3, 0x66)) : minimal_record();
        blue.insert(blue.end(), record.begin(), record.end());
    }
    write_file(name('B'), blue);

    ConsoleCapture console;
    load();
    const int64_t len = 24 + 9 * 64 * 64;
    EXPECT_EQ(console.text(),
              "successfully opened the 3 files for reading\n"
              "file_lenR = " +
                  std::to_string(len) + "\nfile_lenR without header = " + std::to_string(len - 24) +
                  "\nheadersize type = 24\n"
                  "reading in compressed tile-data\n"
                  "read compressed tile-data\n");
    ASSERT_NE(entry_.R, nullptr);
    ASSERT_NE(entry_.G, nullptr);
    ASSERT_NE(entry_.B, nullptr);
    EXPECT_EQ(entry_.R->header.merged_w, 4096);
    EXPECT_EQ(entry_.R->header.tiles_y, 64);
    EXPECT_EQ(entry_.R->data_len, len - 24);
    EXPECT_EQ(entry_.G->index[4095], 9 * 4095);
    EXPECT_EQ(entry_.B->index[7], 9 * 7);
    EXPECT_EQ(entry_.B->index[8], 9 * 7 + 14);
    EXPECT_EQ(entry_.B->data[entry_.B->index[7]], 5);
}

TEST_F(TileLevelFiles, MissingGreenFileFailsBeforeTheOpenedLine) {
    remove_tree(name('G'));
    EXPECT_EXIT(
        {
            console_out = stderr;
            load();
        },
        ExitedWithCode(1), "^failed to load  at least one ezw file!\n\n\tcleaned up");
}

// A folder where a channel file should be opens for reading but holds no file: it counts as a
// file that cannot be opened, named on stderr, before anything about lengths is printed.
TEST_F(TileLevelFiles, FolderInPlaceOfAFileCannotBeOpened) {
    remove_tree(name('B'));
    std::filesystem::create_directory(name('B'));
    EXPECT_EXIT(
        {
            console_out = stderr;
            load();
        },
        ExitedWithCode(1),
        "L3_B\\.ezw: not a regular file\nfailed to load  at least one ezw file!\n");
}

// Each damaged red file ends loading with status 1, naming the file on stderr first.
TEST_F(TileLevelFiles, DamagedFilesEndTheProgram) {
    const std::string r = name('R');
    struct Case {
        const char* what;
        void (*damage)(const std::string&);
        const char* stderr_regex;
    } cases[] = {
        {"shorter than the header", [](const std::string& p) { truncate_file(p, 20); },
         "L3_R\\.ezw: the file is shorter than its 24-byte header\nfailed to load  at least one"},
        {"one record missing", [](const std::string& p) { truncate_file(p, 24 + 9 * 4095); },
         "L3_R\\.ezw: the file holds 4095 tile records, the grid needs 4096\nerror occured"},
        {"one record too many", [](const std::string& p) { append_file(p, Bytes(9)); },
         "^error occured while building"},
        {"level 2 geometry in a level 3 file",
         [](const std::string& p) { write_file(p, minimal_tile_file(2)); },
         "L3_R\\.ezw: merged size is 2048 x 2048, level 3 needs 4096 x 4096\nerror occured"},
        {"last record past the end",
         [](const std::string& p) {
             patch_file(p, 24 + 9 * 4095 + 5, {1, 0, 0, 0});
         },
         "L3_R\\.ezw: record 4095 ends past the end of the file\nerror occured"},
        {"tiles_y zero",
         [](const std::string& p) {
             patch_file(p, 16, {0, 0, 0, 0});
         },
         "L3_R\\.ezw: .*tiles_y 0.*\nerror occured"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(r, minimal_tile_file(3));
        c.damage(r);
        EXPECT_EXIT(
            {
                console_out = fopen("/dev/null", "w");
                load();
            },
            ExitedWithCode(1), c.stderr_regex);
    }
}

}  // namespace
