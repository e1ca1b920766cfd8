# Run by `cmake --install` (and CPack): writes the menu entry for the program installed under
# CMAKE_INSTALL_PREFIX and installs it. Set beforehand: QUOKKA_DESKTOP_TEMPLATE,
# QUOKKA_DESKTOP_WORK (a folder of the build tree), QUOKKA_DESKTOP_WRITER (the built
# quokka-desktop-entry, which writes the Exec value as the first run's launchers do),
# QUOKKA_BINDIR, QUOKKA_DATADIR.
file(MAKE_DIRECTORY ${QUOKKA_DESKTOP_WORK})
execute_process(
  COMMAND ${QUOKKA_DESKTOP_WRITER} ${QUOKKA_DESKTOP_TEMPLATE} ${QUOKKA_DESKTOP_WORK}/quokka-quokka.desktop
          "${CMAKE_INSTALL_PREFIX}/${QUOKKA_BINDIR}/quokka-quokka"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the menu entry could not be written (${status})")
endif()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUOKKA_DATADIR}/applications" TYPE FILE
     FILES ${QUOKKA_DESKTOP_WORK}/quokka-quokka.desktop)
