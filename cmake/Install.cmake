# What `cmake --install` puts on a machine: the two programs, the window's preview module, the
# menu entry, the icon theme files, the software-centre description, the manual pages and the copyright notice. Paths
# follow the freedesktop layouts under the install prefix, so a package built from these rules
# is picked up by the desktop's menu, icon cache and software centre through their own triggers.

# Every program a user runs: each gets a manual page, the metainfo names each, and the packaging
# check is handed the same list.
set(MARQUELO_INSTALLED_PROGRAMS marquelo marquelo-get)
install(TARGETS ${MARQUELO_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The preview module goes where the program looks for it (MARQUELO_MODULE_DIR_FROM_BIN).
install(TARGETS marquelo-preview LIBRARY DESTINATION ${MARQUELO_MODULE_DIR})

install(FILES resources/marquelo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The 16 x 16 icon is hand-drawn; the larger ones are renderings of resources/marquelo.svg
# (scripts/render-icons), which is installed as well for sizes in between.
set(MARQUELO_ICON_SIZES 16 32 48 64 128 256)
foreach(size IN LISTS MARQUELO_ICON_SIZES)
  install(FILES resources/marquelo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME marquelo.png)
endforeach()
install(FILES resources/marquelo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The product site's host lives in the program's own table of host names; reading it from there
# keeps the homepage in the package and the software centre from drifting away from the link
# the window opens.
file(STRINGS app/HostNames.h product_site_line REGEX "ProductSiteHost = QStringLiteral\\(\"")
if(NOT product_site_line MATCHES "QStringLiteral\\(\"([^\"]+)\"\\)")
  message(FATAL_ERROR "app/HostNames.h no longer defines ProductSiteHost on one line")
endif()
set(MARQUELO_PRODUCT_SITE_HOST ${CMAKE_MATCH_1})

set(MARQUELO_METAINFO_ID app.marquelo.Marquelo)
list(TRANSFORM MARQUELO_INSTALLED_PROGRAMS PREPEND "<binary>" OUTPUT_VARIABLE binaries)
list(TRANSFORM binaries APPEND "</binary>")
list(JOIN binaries "\n    " MARQUELO_PROVIDED_BINARIES)
configure_file(resources/${MARQUELO_METAINFO_ID}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/share/${MARQUELO_METAINFO_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/share/${MARQUELO_METAINFO_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# One manual page per program, carrying the project's version and release date, installed
# compressed as Debian's manual readers expect. gzip -n leaves out the time stamp, so rebuilding
# an unchanged page yields the same bytes.
set(compressed_pages)
foreach(program IN LISTS MARQUELO_INSTALLED_PROGRAMS)
  set(page ${program}.1)
  configure_file(docs/${page} ${CMAKE_BINARY_DIR}/share/man/${page} @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/share/man/${page}.gz
    COMMAND gzip -9 -n -f -k ${CMAKE_BINARY_DIR}/share/man/${page}
    DEPENDS ${CMAKE_BINARY_DIR}/share/man/${page}
    COMMENT "Compressing the manual page ${page}"
    VERBATIM)
  list(APPEND compressed_pages ${CMAKE_BINARY_DIR}/share/man/${page}.gz)
endforeach()
add_custom_target(marquelo_manual_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian keeps a package's notices under its package name, not the project's.
install(FILES resources/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marquelo)
