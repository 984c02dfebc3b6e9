target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/camera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/flight.cpp
)
