# Installation as a desktop program and a Debian package made by CPack.
#   cmake --install build --prefix /usr
#   cpack --config build/CPackConfig.cmake -G DEB     (scripts/package.sh does both steps)
include(GNUInstallDirs)

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)

if(TARGET brennic)
  install(TARGETS brennic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${_pkg}/brennic.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        RENAME ${BRENNIC_APP_ID}.desktop)
# The type of .rdp files, which Debian's shared-mime-info does not define; its
# trigger rebuilds the database when the package is installed.
install(FILES ${_pkg}/brennic-rdp.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${BRENNIC_APP_ID}.xml)
# The metadata carries the build's version and the day of its release.
configure_file(${_pkg}/brennic.metainfo.xml ${CMAKE_BINARY_DIR}/packaging/${BRENNIC_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/${BRENNIC_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_pkg}/icons/brennic.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${_pkg}/icons/brennic-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME brennic.png)
endforeach()

# Debian wants its copyright file and a compressed changelog in the package's doc folder.
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/brennic)
set(_debver "${PROJECT_VERSION}-1")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_pkg}/changelog)
file(READ ${_pkg}/changelog _changelog)
string(REPLACE "@VERSION@" "${_debver}" _changelog "${_changelog}")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/changelog.Debian "${_changelog}")
find_program(GZIP_EXECUTABLE gzip REQUIRED)
configure_file(${_pkg}/brennic.1 ${CMAKE_BINARY_DIR}/packaging/brennic.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz ${CMAKE_BINARY_DIR}/packaging/brennic.1.gz
  COMMAND ${GZIP_EXECUTABLE} -9nkf ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  COMMAND ${GZIP_EXECUTABLE} -9nkf ${CMAKE_BINARY_DIR}/packaging/brennic.1
  DEPENDS ${_pkg}/changelog ${_pkg}/brennic.1
  VERBATIM)
add_custom_target(brennic_packaging_docs ALL
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz ${CMAKE_BINARY_DIR}/packaging/brennic.1.gz)
install(FILES ${_pkg}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${_doc})
install(FILES ${CMAKE_BINARY_DIR}/packaging/brennic.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME brennic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Brennic developers <developers@brennic.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manager for many Windows servers over RDP")
set(CPACK_PACKAGE_DESCRIPTION
"Brennic keeps a grouped catalogue of Windows servers in one file, shows for
each server whether it answers, and opens any number of remote desktop
sessions at once, each in a window of its own, inside a small tabbed browser.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Libraries are found by dpkg-shlibdeps (the RDP backend module's among them);
# these are what the program loads at run time: the shared catalogue's database
# driver brings libpq, which the program does not link; QtKeychain opens libsecret
# to reach the desktop keyring.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6sql6-psql, fonts-noto-cjk, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
