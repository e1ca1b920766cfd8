# Run by `cmake --install` (and CPack): writes the menu entry for the program installed under
# CMAKE_INSTALL_PREFIX and installs it. Set beforehand: QUOKKA_DESKTOP_TEMPLATE,
# QUOKKA_DESKTOP_FILE (the entry's file name), QUOKKA_DESKTOP_WORK (a folder of the build tree),
# QUOKKA_DESKTOP_WRITER (the built quokka-desktop-entry, which writes the Exec value as the
# first run's launchers do), QUOKKA_BINDIR, QUOKKA_DATADIR.
# Installations to different places can run at once from one build tree (CPack's and a
# prefix's): each writes its entry in a folder of its own.
string(SHA1 place "$ENV{DESTDIR}|${CMAKE_INSTALL_PREFIX}")
set(work ${QUOKKA_DESKTOP_WORK}/${place})
file(MAKE_DIRECTORY ${work})
execute_process(
  COMMAND ${QUOKKA_DESKTOP_WRITER} ${QUOKKA_DESKTOP_TEMPLATE} ${work}/${QUOKKA_DESKTOP_FILE}
          "${CMAKE_INSTALL_PREFIX}/${QUOKKA_BINDIR}/quokka-quokka"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the menu entry could not be written (${status})")
endif()
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUOKKA_DATADIR}/applications" TYPE FILE
     FILES ${work}/${QUOKKA_DESKTOP_FILE})
file(REMOVE_RECURSE ${work})
