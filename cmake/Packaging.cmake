# The Debian package, built by CPack from the install rules (scripts/package runs it):
# marquelo_<version>_<arch>.deb. Its run-time dependencies are computed from the installed
# programs by dpkg-shlibdeps, so they follow whatever the binaries actually link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME marquelo)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL https://${MARQUELO_PRODUCT_SITE_HOST}/)
set(CPACK_PACKAGE_CONTACT "${MARQUELO_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Line breaks are kept as written: package managers show the text as it stands.
set(CPACK_PACKAGE_DESCRIPTION
    "Marquelo turns a page of a vantrel photostream, photo set or group into a
slideshow for your own web site. It reads the page, finds the owner, group and
set identifiers in it, and gives a one-line iframe embed code with a live
preview, ready to copy.

The package also holds marquelo-get, a command-line fetcher built on the same
HTTP client, for diagnosing pages that will not load.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No linker record names these. The icon theme's index is what makes desktops search the
# directories the icons go into; xdg-open is how the web link reaches the user's browser outside
# a full desktop session. The public suffix list is data libpsl reads: without it the cookie
# rules fall back to the copy built into libpsl, which ages with the library. libproxy loads
# its readers of GNOME's and KDE's settings and its PAC engine as plugins at run time: without
# them the desktop's proxy settings read as "direct".
set(CPACK_DEBIAN_PACKAGE_DEPENDS "hicolor-icon-theme, publicsuffix")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "xdg-utils, libproxy1-plugin-gsettings, libproxy1-plugin-kconfig, libproxy1-plugin-webkit")
# Installed programs carry no debugging symbols; the build tree keeps them.
set(CPACK_STRIP_FILES ON)

include(CPack)

# What the package must hold, for scripts/check-package: read from the build tree, so the check
# follows the install rules' own lists.
list(JOIN MARQUELO_INSTALLED_PROGRAMS " " programs)
list(JOIN MARQUELO_ICON_SIZES " " icon_sizes)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package-facts.sh CONTENT [[
# Written by cmake/Packaging.cmake; read by scripts/check-package.
version="@PROJECT_VERSION@"
programs="@programs@"
modules="@MARQUELO_MODULE_DIR@/marquelo-preview.so"
icon_sizes="@icon_sizes@"
metainfo_id="@MARQUELO_METAINFO_ID@"
]] @ONLY)

# Builds the package from this build tree into a scratch directory and checks what a user
# would get: its file list, control fields, menu entry, software-centre file and manual pages.
add_test(NAME Packaging.DebianPackage
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-package --build-dir ${CMAKE_BINARY_DIR})
# Shows that the check above notices faults planted in a copy of the package.
add_test(NAME Packaging.CheckFindsFaults
         COMMAND ${CMAKE_SOURCE_DIR}/tests/packaging/check-package-faults ${CMAKE_BINARY_DIR})
set_tests_properties(Packaging.DebianPackage Packaging.CheckFindsFaults
                     PROPERTIES TIMEOUT 300 LABELS packaging)
