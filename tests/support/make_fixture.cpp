// Writes the test fixture data set (DIR/ezw_data) for end-to-end tests and as a stand-in data set.
#include <cstdio>

#include "tests/support/fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR   (writes DIR/ezw_data)\n", argv[0]);
        return 1;
    }
    write_fixture_data_set(argv[1]);
    return 0;
}
