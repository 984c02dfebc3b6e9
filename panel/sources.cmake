add_library(quorvik_panel STATIC
  ${CMAKE_CURRENT_LIST_DIR}/panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/callbacks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/widget_lookup.cpp
)
target_link_libraries(quorvik_panel PUBLIC quorvik_core PkgConfig::GTK2)
