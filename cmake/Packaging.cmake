# Install rules for the desktop files and the Debian package settings.  The version
# comes from project(); bump QUARVEL_RELEASE_DATE with it, it dates the release in
# the AppStream metainfo that software centres show.
set(QUARVEL_RELEASE_DATE "2026-12-11")

add_subdirectory(${PROJECT_SOURCE_DIR}/packaging ${PROJECT_BINARY_DIR}/packaging)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quarvel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quarvel developers")
set(CPACK_PACKAGE_CONTACT "Quarvel developers <quarvel@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "simulate the position output of a positioning instrument")
set(CPACK_PACKAGE_DESCRIPTION
    "Quarvel stands in for a positioning instrument: type a position as X, Y and Z,\n"
    "pick the reference frame, and it sends a $PXTQSSB position sentence stamped\n"
    "with the local time and closed by a checksum, once or on every timer tick,\n"
    "to a serial port and to every client of its TCP server on port 4099.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends is computed by dpkg-shlibdeps from what the binary really links, so the
# Qt 6 runtime is pulled in by apt without a hand-kept list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
