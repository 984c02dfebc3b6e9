pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips-cpp)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
# The data set builder: one library, built once, linked into quorvik-tool and into its tests.
# Compiled with -ffp-contract=off like the decoder and the encoder, whose float rules it shares
# (it predicts and decodes tiles to check what the viewer will show).
set(QUORVIK_BUILDER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/base_fit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/builder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/coarse_refine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fast_ezw.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_rows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/parallel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pyramid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_build.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_verify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rd_quant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/seam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strip_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_coder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/verify.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vips_start.cpp
  ${CMAKE_CURRENT_LIST_DIR}/world.cpp
  ${CMAKE_CURRENT_LIST_DIR}/world_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/world_rows.cpp
)
add_library(quorvik_builder STATIC ${QUORVIK_BUILDER_SOURCES})
target_include_directories(quorvik_builder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quorvik_builder PUBLIC quorvik_core PkgConfig::VIPS PkgConfig::DEFLATE
                      pthread)
set_source_files_properties(${QUORVIK_BUILDER_SOURCES} PROPERTIES COMPILE_OPTIONS
                            "-ffp-contract=off")
# The world's shading loop vectorises only when sqrt need not set errno (its argument is never
# negative) and the compiler may evaluate every kind of ground before picking one (no float
# traps are enabled). Neither option changes a result.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/world_fields.cpp PROPERTIES COMPILE_OPTIONS
                            "-ffp-contract=off;-fno-math-errno;-fno-trapping-math")
# Likewise the rate-distortion loops and the coarse choice's descent, whose selects between float
# values vectorise only when a comparison need not be kept from trapping.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/rd_quant.cpp
                            ${CMAKE_CURRENT_LIST_DIR}/coarse_refine.cpp PROPERTIES COMPILE_OPTIONS
                            "-ffp-contract=off;-fno-math-errno;-fno-trapping-math")

