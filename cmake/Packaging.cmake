# The Debian package of the two tools, built offline with `cpack -G DEB` in a release build.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenpix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quenpix developers")
set(CPACK_PACKAGE_CONTACT "Quenpix developers <quenpix@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Quenpix compresses true-colour (24-bit) Windows bitmaps without loss into two
files: a compressed image in a PNG-style container (.lsg) and a small side file
(.pls). This package holds the encoder quenpix, the decoder quenpix-decode,
their manual pages and a description of the file format.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is computed by dpkg-shlibdeps from the installed binaries (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
