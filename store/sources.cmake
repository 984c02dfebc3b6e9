target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raw_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tile_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_set.cpp
)
