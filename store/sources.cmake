target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/raw_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_set.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_buffers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release.cpp
  ${CMAKE_CURRENT_LIST_DIR}/byte_source.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_writer.cpp
)
