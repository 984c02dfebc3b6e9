# SDL-free parts of the application shell that the library carries.
target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_timing.cpp
)
# The viewer's own sources (SDL and GTK); panel sources are added by panel/sources.cmake.
set(QUORVIK_VIEWER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_loop.cpp
)
