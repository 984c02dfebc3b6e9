# The control panel driven from outside, against the real viewer. The tests link the panel
# library to lay a panel out in-process and learn where its widgets sit, and compare frames with
# quorvik-tool's headless rendering.
quorvik_add_e2e_test(quorvik_e2e_panel_test ${CMAKE_CURRENT_LIST_DIR}/panel_e2e.cpp)
target_link_libraries(quorvik_e2e_panel_test PRIVATE quorvik_panel)
