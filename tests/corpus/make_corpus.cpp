// Writes the regression corpus of malformed data set files to a directory:
//
//   quorvik-corpus OUT_DIR
//
// OUT_DIR/raw_image/NAME.pzd and OUT_DIR/tile_file/NAME.ezw, one per case (grouped by format so
// that each folder can seed or be replayed by the matching fuzz target), and OUT_DIR/MANIFEST.txt
// with each file's place in a data set and the outcome the viewer must show for it.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/corpus/corpus_cases.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    const fs::path out(argv[1]);
    fs::create_directories(out / "raw_image");
    fs::create_directories(out / "tile_file");
    std::ofstream manifest(out / "MANIFEST.txt");
    manifest << "# file | place in ezw_data | what is wrong | expected outcome\n";
    int count = 0;
    for (const CorpusCase& c : corpus_cases()) {
        const std::string folder = c.extension() == "pzd" ? "raw_image" : "tile_file";
        const fs::path file = out / folder / (c.name + "." + c.extension());
        write_file(file.string(), c.bytes);
        manifest << folder << "/" << c.name << "." << c.extension() << " | " << c.data_set_name()
                 << " | " << c.about << " | ";
        if (c.loads) {
            manifest << "loads; tile " << c.decode.tile << " decodes "
                     << decode_status_name(c.decode.status) << " with " << c.decode.significant
                     << " coefficient(s)";
        } else {
            if (!c.failure.line.empty()) manifest << "\"" << c.failure.line << "\", then ";
            manifest << "exit 1 with \"" << c.failure.fatal << "\"";
        }
        manifest << "\n";
        ++count;
    }
    if (!manifest) {
        fprintf(stderr, "cannot write %s\n", (out / "MANIFEST.txt").c_str());
        return 1;
    }
    printf("%d corpus files written to %s\n", count, out.c_str());
    return 0;
}
