# The fuzz targets: fuzz/fuzz_NAME.cpp defines LLVMFuzzerTestOneInput for each NAME. Shared by the
# clang libFuzzer build (fuzz/CMakeLists.txt) and the replay programs of the test build.
set(QUORVIK_FUZZ_TARGETS raw_image tile_file tile_record qvk_file)
