pkg_check_modules(VIPS REQUIRED IMPORTED_TARGET vips-cpp)
pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
find_package(CLI11 CONFIG QUIET)
# Every .cpp in tool/ and its subfolders belongs to quorvik-tool.
file(GLOB_RECURSE QUORVIK_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_executable(quorvik-tool ${QUORVIK_TOOL_SOURCES})
target_include_directories(quorvik-tool PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(quorvik-tool PRIVATE quorvik_core PkgConfig::VIPS PkgConfig::DEFLATE pthread)
if(TARGET CLI11::CLI11)
  target_link_libraries(quorvik-tool PRIVATE CLI11::CLI11)
endif()
set_target_properties(quorvik-tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The world's shading loop vectorises only when sqrt need not set errno (its argument is never
# negative) and the compiler may evaluate every kind of ground before picking one (no float
# traps are enabled). Neither option changes a result.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/builder/world.cpp PROPERTIES COMPILE_OPTIONS "-fno-math-errno;-fno-trapping-math")
