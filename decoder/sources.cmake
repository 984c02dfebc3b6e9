# Tile decoder. Bitstream side: scan_order, ezw_decode. Pixel maths: lifting*,
# colour*. Every source is compiled with -ffp-contract=off: the float rules (each expression in
# double, stored as float) forbid fused multiply-adds.
set(QUORVIK_DECODER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/scan_order.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ezw_decode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ezw_decode_avx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lifting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lifting_sse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/lifting_avx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_sse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_avx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_tile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_tile.cpp
)
target_sources(quorvik_core PRIVATE ${QUORVIK_DECODER_SOURCES})
set_source_files_properties(${QUORVIK_DECODER_SOURCES} PROPERTIES COMPILE_OPTIONS "-ffp-contract=off")

# libdeflate inflates the dominant streams faster than zlib's uncompress (same accept/reject
# behaviour, tested); zlib stays the fallback and the reference decoder's inflater.
pkg_check_modules(DEFLATE_CORE IMPORTED_TARGET libdeflate)
if(DEFLATE_CORE_FOUND)
  target_link_libraries(quorvik_core PUBLIC PkgConfig::DEFLATE_CORE)
  target_compile_definitions(quorvik_core PRIVATE QUORVIK_HAVE_LIBDEFLATE=1)
endif()

# HTJ2K tiles, through OpenJPH. Required rather than optional: a picture coded with it has no
# other reader here. Debian's openjph.pc names no include or library path, so the header and the
# library are looked up directly. Not under -ffp-contract=off: the float work is the library's.
find_path(OPENJPH_INCLUDE_DIR openjph/ojph_codestream.h REQUIRED)
find_library(OPENJPH_LIBRARY openjph REQUIRED)
target_include_directories(quorvik_core SYSTEM PRIVATE ${OPENJPH_INCLUDE_DIR})
target_link_libraries(quorvik_core PRIVATE ${OPENJPH_LIBRARY})
target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/openjph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/htj2k_codestream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/htj2k_packets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/htj2k_decode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_filter_avx2.cpp
)
