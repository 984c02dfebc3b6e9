// Runs a fuzz target over files without libFuzzer, so that any compiler's build (the GCC
// sanitizer build in particular) can replay a seed corpus or a crash file.
//
//   quorvik-replay-TARGET [-v] PATH...   PATH: a file, or a directory whose regular files are all
//                                        replayed (not recursively), in name order
//
// Exits 0 after all inputs ran; an input that breaks an invariant aborts the process and the last
// "replaying" line (with -v) names it. Exit status 2 for unreadable or missing paths, or when no
// input was found at all: an empty corpus replays nothing and must not count as a pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool read_all(const fs::path& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    bool verbose = false;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-v") == 0) {
            verbose = true;
            continue;
        }
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            printf("usage: %s [-v] FILE_OR_DIRECTORY...\n", argv[0]);
            return 0;
        }
        std::error_code ec;
        const fs::path path(argv[i]);
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            for (const auto& entry : fs::directory_iterator(path, ec))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            inputs.insert(inputs.end(), files.begin(), files.end());
        } else if (fs::is_regular_file(path, ec)) {
            inputs.push_back(path);
        } else {
            fprintf(stderr, "%s: no such file or directory\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    std::vector<uint8_t> bytes;
    for (const fs::path& path : inputs) {
        if (!read_all(path, bytes)) {
            fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 2;
        }
        if (verbose) fprintf(stderr, "replaying %s (%zu bytes)\n", path.c_str(), bytes.size());
        // Copied into an exactly sized buffer so that a read past the input's end is caught.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
        if (!bytes.empty()) memcpy(exact.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(exact.get(), bytes.size());
    }
    printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
