#pragma once
// The regression corpus of malformed data set files. Each case is one damaged file, the place in
// a data set where it goes, and what must happen when the viewer meets it: the loader ends the
// program with an exact message, or the file loads and one tile decodes short.
//
// The bytes are built here rather than committed: `quorvik-corpus DIR` writes them out (with a
// manifest) for inspection and as fuzz seeds, and the corpus test replays every case.
#include <cstdint>
#include <string>
#include <vector>

#include "decoder/ezw_decode.h"
#include "tests/support/fixture.h"

enum class CorpusSlot {
    minimap,   // ./ezw_data/minimap.pzd
    base_tex,  // the base texture of `sub`
    tile_file  // the tile file of `sub`, `level`, `channel`
};

// What the loader prints on standard error before ending with status 1.
struct LoadFailure {
    std::string line;   // the line that names the fault; empty when the loader prints none
    std::string fatal;  // the fatal message (printed last, without a line end)
};

// A file that loads; tile `tile` of it decodes with `status`.
struct ShortDecode {
    int tile = 0;
    DecodeStatus status = DecodeStatus::ok;
    int significant = 0;                        // coefficients decoded before the decode ended
    std::vector<std::pair<int, float>> values;  // (position, value) pairs the plane must hold
    uint32_t symbols_used = 0;
    uint32_t bits_used = 0;
};

struct CorpusCase {
    std::string name;   // file name stem, also the test's name
    std::string about;  // one line: what is wrong with the file
    CorpusSlot slot = CorpusSlot::minimap;
    int sub = 0;
    int level = 2;
    char channel = 'R';
    Bytes bytes;
    bool loads = false;  // false: `failure` applies; true: `decode` applies
    LoadFailure failure;
    ShortDecode decode;

    // "minimap.pzd", "A1_base_tex.pzd", "A1_ezt_1_2_R.ezw": the file's name in the data set.
    std::string data_set_name() const;
    // The extension of the file's format, "pzd" or "ezw".
    std::string extension() const;
};

// Every case, built fresh on each call.
std::vector<CorpusCase> corpus_cases();

// Writes into `dir`/ezw_data the valid files that the loader reads before it reaches the slot of
// `c` (none after it: loading ends at the damaged file), then the damaged file itself. For a
// case that loads, writes the damaged tile file and the other two channel files of its level.
void write_case_data_set(const CorpusCase& c, const std::string& dir);
