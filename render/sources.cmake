# Renderer: view and level selection, tile making, the render engine (threads, tile cache,
# prefetching), rasterisation, overlays. Compiled with -ffp-contract=off: frames must be
# reproducible to the pixel, and a fused multiply-add would round the double-precision projection
# differently on some targets. The *_sse2 files hold the SSE2 kernels and compile to nothing off
# x86-64.
set(QUORVIK_RENDER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synth_sse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_picture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/stored_tile_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_borders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_scratch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/worker_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/prefetch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raster.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raster_sse2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/overlays.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_buffers.cpp
)
target_sources(quorvik_core PRIVATE ${QUORVIK_RENDER_SOURCES})
set_source_files_properties(${QUORVIK_RENDER_SOURCES} PROPERTIES COMPILE_OPTIONS "-ffp-contract=off")
find_package(Threads REQUIRED)
target_link_libraries(quorvik_core PUBLIC Threads::Threads)
