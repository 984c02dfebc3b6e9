add_library(quorvik_panel STATIC
  ${CMAKE_CURRENT_LIST_DIR}/stub.cpp
)
target_link_libraries(quorvik_panel PUBLIC quorvik_core PkgConfig::GTK2)
