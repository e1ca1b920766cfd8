# What `cmake --install` puts under the prefix, and the Debian package CPack builds from it:
# the program, its menu entry, icons, AppStream metadata, manual page and bash completion, the
# README, the data's licences, the changelog and the copyright file.
include(GNUInstallDirs)

install(TARGETS quokka-quokka RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The probe helper goes beside the program's other files, in QUOKKA_HELPER_DIR (set by
# trace/, where the program learns the same place relative to itself). Only it may hold
# CAP_NET_RAW: the package's postinst gives it (setcap), as Debian's ping does; after
# `cmake --install` the message below says the command.
install(TARGETS quokka-quokka-probe RUNTIME DESTINATION ${QUOKKA_HELPER_DIR})
# The table tools, for building a table from a newer release of the data's sources and checking
# it (README, "Geolocation data"): beside the helper, as they are for the few who need them.
install(TARGETS quokka-geotable quokka-astable RUNTIME DESTINATION ${QUOKKA_HELPER_DIR})
install(CODE "message(STATUS \"Route tracing without ping sockets: sudo setcap cap_net_raw+ep \${CMAKE_INSTALL_PREFIX}/${QUOKKA_HELPER_DIR}/quokka-quokka-probe\")")

# The menu entry starts the installed program by its full path. The prefix is only known when
# installing (cmake --install --prefix, or CPack's /usr), so the entry is written then.
# It is named after the program's desktop id, as are the icons and the metadata.
set(desktop_files ${PROJECT_SOURCE_DIR}/res/desktop)
install(CODE "
  set(QUOKKA_DESKTOP_TEMPLATE [[${desktop_files}/launcher.desktop.in]])
  set(QUOKKA_DESKTOP_FILE [[${QUOKKA_APP_ID}.desktop]])
  set(QUOKKA_DESKTOP_WORK [[${CMAKE_BINARY_DIR}/install]])
  set(QUOKKA_DESKTOP_WRITER [[$<TARGET_FILE:quokka-desktop-entry>]])
  set(QUOKKA_BINDIR [[${CMAKE_INSTALL_BINDIR}]])
  set(QUOKKA_DATADIR [[${CMAKE_INSTALL_DATADIR}]])")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_desktop_entry.cmake)
# The icon theme's set (SIZExSIZE/apps and scalable/apps), drawn by the build (res/desktop).
get_directory_property(theme_icons DIRECTORY ${PROJECT_SOURCE_DIR}/res/desktop DEFINITION QUOKKA_THEME_ICONS)
if(NOT IS_ABSOLUTE "${theme_icons}")
  message(FATAL_ERROR "res/desktop names no folder for the icon theme's set")
endif()
install(DIRECTORY ${theme_icons}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${desktop_files}/${QUOKKA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
get_directory_property(compressed DIRECTORY ${PROJECT_SOURCE_DIR}/res/desktop DEFINITION QUOKKA_COMPRESSED_DOCS)
install(FILES ${compressed}/quokka-quokka.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${desktop_files}/quokka-quokka.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME quokka-quokka)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE-DATA ${desktop_files}/copyright
        ${compressed}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quokka-quokka)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quokka-quokka)
set(CPACK_PACKAGE_VENDOR "Quokka Quokka")
set(CPACK_PACKAGE_CONTACT "Quokka Quokka developers <developers@quokka-quokka.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shows where an Internet domain lives and how traffic gets there")
# Lines of at most 80 characters, as Debian's tools show them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "A desktop tool that looks up a domain's WHOIS record, traces the route to it\n"
  "hop by hop and draws each hop on a world map. Includes geolocation data:\n"
  "IP Geolocation by DB-IP (CC BY 4.0), and AS data by RouteViews, NRO and DB-IP\n"
  "(CC BY 4.0).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON) # the debugging sections stay in the build tree
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt finds its window-system plugins at run time; no library link names them.
# The windows are laid out in the metrics of Liberation Sans and Liberation Mono.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2, fonts-symbola") # Symbola: the control pictures
# setcap, for the probe helper's capability (postinst).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcap2-bin")
# The package installs under /usr; its postinst names the helper where QUOKKA_HELPER_DIR puts it.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CMAKE_BINARY_DIR}/debian/postinst @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
