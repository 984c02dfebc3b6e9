find_package(CLI11 CONFIG REQUIRED)

add_executable(quorvik-tool
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_cmd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_cmd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bench_cmd.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frame_tool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/render_image.cpp
)
target_link_libraries(quorvik-tool PRIVATE quorvik_builder CLI11::CLI11)
set_target_properties(quorvik-tool PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
