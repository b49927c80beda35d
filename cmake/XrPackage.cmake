# SPDX-License-Identifier: MIT
# The Debian package, made by "cpack -G DEB" in a build directory configured with
# -DCMAKE_INSTALL_PREFIX=/usr (which gives the multiarch library directory).

# The package's copyright file, in Debian's machine-readable format, from LICENSE: its
# "Copyright (c) ..." line and the licence text (Debian calls the MIT licence "Expat").
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([-0-9, ]+) ([^\n]*)" copyright_line "${license}")
set(years "${CMAKE_MATCH_1}")
set(holder "${CMAKE_MATCH_2}")
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" license_text "${license}")
string(REGEX REPLACE "\n+$" "" license_text "${license_text}")
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
file(WRITE ${CMAKE_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${PROJECT_NAME}\n\n"
  "Files: *\n"
  "Copyright: ${years} ${holder}\n"
  "License: Expat\n"
  " ${license_text}\n")
install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/xrreport)

# The changelog, doc/changelog in Debian's format (a native package's changelog.gz; its latest
# entry is this version, which scripts/package checks), compressed as Debian ships it.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/doc/changelog ${CMAKE_BINARY_DIR}/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/changelog)
add_custom_target(xrreport_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/xrreport)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME xrreport)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${holder}")
set(CPACK_PACKAGE_CONTACT "${holder} <xrmodem@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hardware report of the machine's modems")
# Its lines are at most 80 columns (Debian's limit, which lintian checks) once indented by one.
set(CPACK_PACKAGE_DESCRIPTION "xrreport loads plug-in bundles and prints the report each one makes.
The modem plug-in identifies the internal modem (identification ROM,
digital-audio-bus node or serial modem), questions it with AT commands, looks
up its driver's version and the configured country, and finds external USB
modems. The modem-ports plug-in lists the machine's serial ports, what each
is and which processes hold it. Machine profiles let it report on a described
machine; example profiles are included.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies come from dpkg-shlibdeps; lsof is a program the plug-ins run. Nothing
# else: scripts/package checks that Depends names no package that none of the binaries need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lsof")
# libudev1 is loaded only by --watch (dlopen), which runs on without it, saying so; udev names
# the modem port (/dev/modem) and reports hot-plugged modems. The completion file is read only
# where bash-completion is set up.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libudev1, udev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
include(CPack)
