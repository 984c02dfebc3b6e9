// Writes the test fixture data set (DIR/ezw_data) for end-to-end tests and as a stand-in data set,
// or with --picture a one-file fixture picture.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/fixture.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--picture") {
        unsigned w = 0, h = 0;
        if (sscanf(argv[3], "%ux%u", &w, &h) != 2) return 1;
        write_fixture_picture(argv[2], w, h);
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR   (writes DIR/ezw_data)\n       %s --picture FILE.qvk WxH\n",
                argv[0], argv[0]);
        return 1;
    }
    write_fixture_data_set(argv[1]);
    return 0;
}
