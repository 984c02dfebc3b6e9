# Install rules (make install, or cmake --install BUILD --prefix PREFIX; DESTDIR is honoured):
#   PREFIX/bin/quorvik, PREFIX/bin/quorvik-tool
#   PREFIX/share/man/man1/quorvik.1, PREFIX/share/man/man1/quorvik-tool.1
#   PREFIX/share/applications/quorvik.desktop
# The manual pages carry the project's version, filled in here.
include(GNUInstallDirs)
foreach(page quorvik quorvik-tool)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()
if(TARGET quorvik)
  install(TARGETS quorvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/man/quorvik.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorvik.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
endif()
if(TARGET quorvik-tool)
  install(TARGETS quorvik-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/man/quorvik-tool.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
