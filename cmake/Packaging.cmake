# The Debian package: `cpack -G DEB` in a build tree (scripts/package.sh does it all).
# Its dependencies are read from the libraries the program and its FFmpeg module
# link (dpkg-shlibdeps), plus Qt's Wayland platform plugin, which nothing links
# (Debian ships the X11 one in libqt6gui6, which the program links).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tonaria)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all of it: CPack would keep three parts
set(CPACK_PACKAGE_VENDOR "The Tonaria developers")
set(CPACK_PACKAGE_CONTACT "The Tonaria developers <developers@tonaria.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "small audio player with a live spectrum display")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Tonaria plays one local audio file at a time (MP3, WAV, Ogg Vorbis, WMA, APE or\n"
  "FLAC) in a small window kept above the others, whose whole area is a 40-bar\n"
  "spectrum of what is being heard. Ctrl+1..4 play, pause, stop and quit from\n"
  "anywhere on the desktop; media keys reach it over MPRIS.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tonaria.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-wayland)
include(CPack)

# What every Debian package carries in its documentation folder: the licence in
# Debian's copyright format, and the changelog, compressed as dpkg expects it
# (-n: no name or time stamp inside, so the same sources give the same bytes).
include(GNUInstallDirs)
find_program(GZIP gzip REQUIRED)
string(TIMESTAMP TONARIA_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH when set
configure_file(${CMAKE_SOURCE_DIR}/data/changelog.in ${CMAKE_BINARY_DIR}/data/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/data/changelog.gz
  COMMAND ${GZIP} -9n -f -k ${CMAKE_BINARY_DIR}/data/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/data/changelog)
add_custom_target(tonaria_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/data/changelog.gz)
install(FILES ${CMAKE_SOURCE_DIR}/data/copyright ${CMAKE_BINARY_DIR}/data/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
