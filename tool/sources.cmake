pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips-cpp)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
find_package(CLI11 CONFIG QUIET)
set(QUORVIK_TOOL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_cmd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_cmd.cpp
)
add_executable(quorvik-tool ${QUORVIK_TOOL_SOURCES})
target_link_libraries(quorvik-tool PRIVATE quorvik_core PkgConfig::VIPS PkgConfig::DEFLATE)
if(TARGET CLI11::CLI11)
  target_link_libraries(quorvik-tool PRIVATE CLI11::CLI11)
endif()
set_target_properties(quorvik-tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
