# Encoder functions (forward transform, EZW channel encoder, colour, record writing): used by the
# round-trip tests and the data set builder. -ffp-contract=off like the decoder (float rules).
set(QUORVIK_ENCODER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/forward_wavelet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_forward.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ezw_encode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvk_tile_encode.cpp
)
target_sources(quorvik_core PRIVATE ${QUORVIK_ENCODER_SOURCES})
set_source_files_properties(${QUORVIK_ENCODER_SOURCES} PROPERTIES COMPILE_OPTIONS "-ffp-contract=off")
# HTJ2K coding through OpenJPH (found in decoder/sources.cmake).
target_sources(quorvik_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/htj2k_encode.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/tile_filter_design.cpp)
