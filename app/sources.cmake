# SDL-free parts of the application shell that the library carries.
target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_timing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/version.cpp
)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/version.cpp APPEND PROPERTY COMPILE_DEFINITIONS
             QUORVIK_VERSION="${PROJECT_VERSION}")

# libpng: the viewer saves frames with it, the tests read PNG files with it.
pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
if(QUORVIK_VIEWER)
  # The viewer's SDL-free shell: command line, mouse navigation, saving frames as PNG. A library
  # of its own so that the tests link it.
  add_library(quorvik_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/command_line.cpp
    ${CMAKE_CURRENT_LIST_DIR}/navigation.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/screenshot.cpp
  )
  target_link_libraries(quorvik_shell PUBLIC quorvik_core PkgConfig::PNG)
endif()

# The viewer's own sources (SDL and GTK); panel sources are added by panel/sources.cmake.
set(QUORVIK_VIEWER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/viewer_events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_loop.cpp
)
