# Run by `cmake --install` (and CPack): writes the menu entry for the program installed under
# CMAKE_INSTALL_PREFIX and installs it. Set beforehand: QUOKKA_DESKTOP_TEMPLATE,
# QUOKKA_DESKTOP_WORK (a folder of the build tree), QUOKKA_BINDIR, QUOKKA_DATADIR.
set(program "${CMAKE_INSTALL_PREFIX}/${QUOKKA_BINDIR}/quokka-quokka")
# An Exec argument with reserved characters is quoted, with " ` $ \ escaped inside; the
# value's own escaping then doubles every backslash.
if(program MATCHES "[ \t\"'`$\\\\<>~|&;*?#()]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" program "${program}")
  set(program "\"${program}\"")
  string(REPLACE "\\" "\\\\" program "${program}")
endif()
set(QUOKKA_EXEC "${program}")
configure_file(${QUOKKA_DESKTOP_TEMPLATE} ${QUOKKA_DESKTOP_WORK}/quokka-quokka.desktop @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${QUOKKA_DATADIR}/applications" TYPE FILE
     FILES ${QUOKKA_DESKTOP_WORK}/quokka-quokka.desktop)
