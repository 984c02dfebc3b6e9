# Renderer: view and level selection, tile synthesis, rasterisation, overlays. Compiled with
# -ffp-contract=off: frames must be reproducible to the pixel, and a fused multiply-add would
# round the double-precision projection differently on some targets.
set(QUORVIK_RENDER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/overlays.cpp
)
target_sources(quorvik_core PRIVATE ${QUORVIK_RENDER_SOURCES})
set_source_files_properties(${QUORVIK_RENDER_SOURCES} PROPERTIES COMPILE_OPTIONS "-ffp-contract=off")
