target_sources(quorvik_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/stub.cpp
)
