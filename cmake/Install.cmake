# What `cmake --install` puts on a machine: the two programs, the window's preview module, the
# menu entry, the icon theme files, the software-centre description, the manual pages, the
# copyright notice and the change log. Paths follow the freedesktop layouts under the install
# prefix, so a package built from these rules is picked up by the desktop's menu, icon cache and
# software centre through their own triggers.

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

# Who answers for Marquelo: the package's maintainer, the copyright file's contact and the
# signer of the change log.
set(MARQUELO_CONTACT "Tarnwick <marquelo@tarnwick.com>")

# LICENSE is the one statement of the terms: the manual pages and the copyright file take the
# holder and year from its notice, and the copyright file the terms that follow it.
file(READ LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE no longer opens with the MIT licence's title and a copyright line")
endif()
set(MARQUELO_COPYRIGHT ${CMAKE_MATCH_1})
# In the copyright file the terms continue the License field: each line starts with a space,
# and an empty line is written as " .".
string(REPLACE "\n\n" "\n.\n" terms "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " MARQUELO_LICENSE_TERMS " ${terms}")
configure_file(resources/copyright.in ${CMAKE_BINARY_DIR}/share/doc/copyright @ONLY)
# Debian keeps a package's notices under its package name, not the project's.
install(FILES ${CMAKE_BINARY_DIR}/share/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marquelo)

# Compresses the configured file FILE into FILE.gz at build time, as Debian's readers of manual
# pages and change logs expect, and appends FILE.gz to the list named OUT_LIST. gzip -n leaves
# out the time stamp, so rebuilding an unchanged file yields the same bytes.
function(marquelo_compress file out_list)
  add_custom_command(
    OUTPUT ${file}.gz
    COMMAND gzip -9 -n -f -k ${file}
    DEPENDS ${file}
    COMMENT "Compressing ${file}"
    VERBATIM)
  set(${out_list} ${${out_list}} ${file}.gz PARENT_SCOPE)
endfunction()

# The release in Debian's change log format, for the package: its date in the form RFC 2822
# gives, which CMake cannot compute by itself.
execute_process(COMMAND date -u -R -d ${MARQUELO_RELEASE_DATE}
                OUTPUT_VARIABLE release_date_rfc2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(resources/changelog.in ${CMAKE_BINARY_DIR}/share/doc/changelog @ONLY)
set(compressed_changelog)
marquelo_compress(${CMAKE_BINARY_DIR}/share/doc/changelog compressed_changelog)
add_custom_target(marquelo_changelog ALL DEPENDS ${compressed_changelog})
install(FILES ${compressed_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/marquelo)

# One manual page per program, carrying the project's version, release date and copyright.
set(compressed_pages)
foreach(program IN LISTS MARQUELO_INSTALLED_PROGRAMS)
  set(page ${program}.1)
  configure_file(docs/${page} ${CMAKE_BINARY_DIR}/share/man/${page} @ONLY)
  marquelo_compress(${CMAKE_BINARY_DIR}/share/man/${page} compressed_pages)
endforeach()
add_custom_target(marquelo_manual_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
