// Replays the regression corpus: every damaged file in its place in a data set.
//   - Files the loader must reject: load_data_set runs in a child process (it ends the program)
//     and must exit with status 1 having printed exactly the fault's line and the fatal message
//     on standard error, and nothing else.
//   - Files that load: the tile loader accepts them, the damaged tile decodes short with the
//     values decoded before the fault kept, and every other tile of the file is unaffected.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "app/console.h"
#include "app/load.h"
#include "decoder/decode_tile.h"
#include "store/data_set.h"
#include "store/tile_file.h"
#include "tests/corpus/corpus_cases.h"

namespace {

const std::vector<CorpusCase>& all_cases() {
    static const std::vector<CorpusCase> cases = corpus_cases();
    return cases;
}

std::vector<const CorpusCase*> cases_where(bool loads) {
    std::vector<const CorpusCase*> out;
    for (const CorpusCase& c : all_cases())
        if (c.loads == loads) out.push_back(&c);
    return out;
}

std::string case_name(const ::testing::TestParamInfo<const CorpusCase*>& info) {
    return info.param->name;
}

class CorpusDir {
  public:
    CorpusDir() : dir_(make_temp_dir("quorvik-corpus")) {}
    ~CorpusDir() { remove_tree(dir_); }
    const std::string& path() const { return dir_; }

  private:
    std::string dir_;
};

class RejectedFile : public ::testing::TestWithParam<const CorpusCase*> {};

TEST_P(RejectedFile, EndsLoadingWithItsMessage) {
    const CorpusCase& c = *GetParam();
    CorpusDir dir;
    write_case_data_set(c, dir.path());
    const std::string expected =
        c.failure.line.empty() ? c.failure.fatal : c.failure.line + "\n" + c.failure.fatal;
    EXPECT_EXIT(
        {
            if (chdir(dir.path().c_str()) != 0) abort();
            load_data_set();
        },
        ::testing::ExitedWithCode(1), ::testing::Eq(expected))
        << c.about;
}

// The same failure comes back as a value from read_data_set, in any folder and without ending
// the process: the lines the viewer prints are the error's detail and message, and the data set
// keeps nothing that a release would not free (the sanitizer build checks the frees).
TEST_P(RejectedFile, ComesBackAsAValueWithTheSameMessage) {
    const CorpusCase& c = *GetParam();
    CorpusDir dir;
    write_case_data_set(c, dir.path());
    FILE* saved = console_out;
    console_out = fopen("/dev/null", "w");
    DataSet data;
    const LoadError e = read_data_set(dir.path() + "/ezw_data", data);
    fclose(console_out);
    console_out = saved;
    ASSERT_TRUE(bool(e)) << c.about;
    const std::string expected =
        c.failure.line.empty() ? c.failure.fatal : c.failure.line + "\n" + c.failure.fatal;
    // The viewer's lines name the file by the path opened, here below the temporary folder.
    const std::string prefix = dir.path() + "/ezw_data/";
    std::string printed = e.detail + e.message;
    for (size_t at = printed.find(prefix); at != std::string::npos; at = printed.find(prefix))
        printed.replace(at, prefix.size(), "./ezw_data/");
    EXPECT_EQ(printed, expected) << c.about;
    EXPECT_EQ(e.file, prefix + c.data_set_name());
    EXPECT_FALSE(e.reason.empty());
    EXPECT_FALSE(data.complete());
    data.release();
    EXPECT_EQ(data.minimap.data, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Corpus, RejectedFile, ::testing::ValuesIn(cases_where(false)), case_name);

class ShortTile : public ::testing::TestWithParam<const CorpusCase*> {};

TEST_P(ShortTile, LoadsAndDecodesShort) {
    const CorpusCase& c = *GetParam();
    const ShortDecode& want = c.decode;

    // The in-memory parser and the file loader share their checks; the parser says why.
    TileSet parsed;
    std::string why;
    ASSERT_TRUE(parse_tile_file(c.bytes.data(), c.bytes.size(), c.level, parsed, why)) << why;
    free(parsed.index);
    free(parsed.data);

    CorpusDir dir;
    write_case_data_set(c, dir.path());
    auto path = [&](char ch) {
        return dir.path() + "/ezw_data/" + tile_file_name(c.sub, c.level, ch);
    };
    ResidualLevel entry;
    load_residual_level(path('R').c_str(), path('G').c_str(), path('B').c_str(), entry, c.level);
    const TileSet& set = c.channel == 'R' ? *entry.R : c.channel == 'G' ? *entry.G : *entry.B;

    static float plane[kTileCoeffs];
    ChannelDecodeInfo info;
    EXPECT_EQ(decode_tile_channel(set, want.tile, plane, &info), want.status)
        << c.about << ": " << decode_status_name(info.status);
    EXPECT_EQ(info.significant, want.significant);
    EXPECT_EQ(info.symbols_used, want.symbols_used);
    EXPECT_EQ(info.bits_used, want.bits_used);
    int nonzero = 0;
    for (float v : plane) nonzero += v != 0.0f;
    EXPECT_EQ(nonzero, want.significant);
    for (const auto& [pos, value] : want.values) EXPECT_EQ(plane[pos], value) << "position " << pos;

    // The fault stays inside its record: its neighbours (empty records) still decode cleanly.
    for (int t : {want.tile - 1, want.tile + 1}) {
        EXPECT_EQ(decode_tile_channel(set, t, plane, &info), DecodeStatus::ok) << "tile " << t;
        EXPECT_EQ(info.significant, 0);
    }
    free_tile_set(entry.R);
    free_tile_set(entry.G);
    free_tile_set(entry.B);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ShortTile, ::testing::ValuesIn(cases_where(true)), case_name);

// The generator writes one file per case name; a repeated name would silently drop a case.
TEST(CorpusCases, NamesAreUniqueAndEveryFileDiffersFromTheValidOne) {
    std::set<std::string> names;
    for (const CorpusCase& c : all_cases()) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        if (c.slot == CorpusSlot::tile_file) {
            EXPECT_NE(c.bytes, minimal_tile_file(c.level)) << c.name;
        }
    }
}

}  // namespace
