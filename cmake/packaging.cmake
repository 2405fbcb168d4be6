# The Debian package, made with CPack (scripts/package): the four programs,
# their manual pages, the README, and the licence as a Debian copyright file.
set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/sorvanite)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${doc_dir})
string(TIMESTAMP year "%Y" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${PROJECT_BINARY_DIR}/package/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/copyright DESTINATION ${doc_dir})
# A native package's changelog, as Debian keeps it.
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${PROJECT_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
  COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/package/changelog > ${PROJECT_BINARY_DIR}/package/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/package/changelog VERBATIM)
add_custom_target(package-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/package/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/package/changelog.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorvanite)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Sorvanite authors")
set(CPACK_PACKAGE_CONTACT "The Sorvanite authors <sorvanite@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bridge between chess GUIs and a chess device on a serial port")
set(CPACK_PACKAGE_DESCRIPTION
  "Sorvanite lets a chess front end such as XBoard, gnome-chess or PyChess\nplay against a chess device on a serial port. It passes game starts and\nmoves to the device, turns its answers back into what the front end\nexpects, and records every line. An emulated device, playing with\nstockfish, comes with it, and a doctor that says why a port cannot be used.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "stockfish, xboard")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
