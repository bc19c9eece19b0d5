# The Debian packages, built offline with `cpack -G DEB`: the shared library (libquenpix0), its
# development files (libquenpix-dev), the tools (quenpix) and, in builds with the Python package,
# python3-quenpix.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenpix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_VENDOR "Quenpix developers")
set(CPACK_PACKAGE_CONTACT "Quenpix developers <quenpix@example.org>")
# Each package's description starts with its own synopsis; CPack would put a package-wide
# summary before it unless that summary is CPack's own default.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL libraries development tools)
if(QUENPIX_BUILD_PYTHON)
    list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The first packaging of this upstream version; the changelog's version says the same.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends is computed by dpkg-shlibdeps from the installed binaries (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Each description: the synopsis, then paragraphs; CPack indents them for the control file.
set(QUENPIX_PACKAGE_ABOUT
    "Quenpix compresses true-colour images without loss into two files: a
compressed image in a PNG-style container (.lsg) and a small side file (.pls).")

set(CPACK_DEBIAN_LIBRARIES_PACKAGE_NAME libquenpix0)
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_SECTION libs)
# The ldconfig trigger does what maintainer scripts once did. Naming a postinst and a postrm
# that do not exist keeps CPack from writing ones that call ldconfig; it skips missing files.
set(CPACK_DEBIAN_LIBRARIES_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/cmake/debian/triggers
    ${PROJECT_SOURCE_DIR}/cmake/debian/no-maintainer-scripts/postinst
    ${PROJECT_SOURCE_DIR}/cmake/debian/no-maintainer-scripts/postrm)
# The shlibs file lets programs built against the library depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARIES_DESCRIPTION
    "lossless compression of true-colour images (shared library)
${QUENPIX_PACKAGE_ABOUT}

This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libquenpix-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libquenpix0 (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "lossless compression of true-colour images (development files)
${QUENPIX_PACKAGE_ABOUT}

This package holds the C and C++ headers, the static library, the pkg-config
file and the CMake package.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME quenpix)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "lossless compression of true-colour images (command-line tools)
${QUENPIX_PACKAGE_ABOUT}

This package holds the encoder quenpix, the decoder quenpix-decode, their
manual pages and a description of the file format.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-quenpix)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
# The extension module is built for this interpreter's version; NumPy carries the arrays, and
# Pillow is needed only for the plugin.
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}), python3 (<< ${Python3_VERSION_MAJOR}.${QUENPIX_PYTHON_NEXT_MINOR}), python3-numpy")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-pil)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
    "lossless compression of true-colour images (Python 3)
${QUENPIX_PACKAGE_ABOUT}

This package holds the Python module quenpix: encode and decode NumPy arrays,
read and write files, and a plugin that lets Pillow open and save them.")

include(CPack)
