# What a Debian user gets from `cpack -G DEB` (and `cmake --install`) beyond
# the program itself: icons in the sizes menus ask for, the manual page, the
# documents, and the package's own description and dependencies.

include(GNUInstallDirs)

# Icons: the SVG drawn into each size desktops look up, at build time, so the
# PNGs never drift from the drawing.
find_program(WG_RSVG_CONVERT rsvg-convert REQUIRED)
set(WG_ICON_SIZES 16 22 24 32 48 64 128 256 CACHE STRING "Sizes of the PNG icons, pixels")
set(WG_ICON_SVG ${CMAKE_SOURCE_DIR}/app/wideglass.svg)
set(wg_icon_pngs "")
foreach(size IN LISTS WG_ICON_SIZES)
  set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/wideglass.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
    COMMAND ${WG_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${WG_ICON_SVG}
    DEPENDS ${WG_ICON_SVG} VERBATIM)
  list(APPEND wg_icon_pngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(wg_icons ALL DEPENDS ${wg_icon_pngs})

# The manual page, gzipped without a name or time inside so that the same
# source gives the same package.
set(WG_MANPAGE ${CMAKE_SOURCE_DIR}/doc/wideglass.1)
set(wg_manpage_gz ${CMAKE_BINARY_DIR}/doc/wideglass.1.gz)
add_custom_command(OUTPUT ${wg_manpage_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9 -n -c ${WG_MANPAGE} > ${wg_manpage_gz}
  DEPENDS ${WG_MANPAGE})
add_custom_target(wg_manpage ALL DEPENDS ${wg_manpage_gz})
install(FILES ${wg_manpage_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Both launchers share the one page.
install(CODE "
  file(CREATE_LINK wideglass.1.gz
       \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_MANDIR}/man1/wideglass-demo.1.gz\" SYMBOLIC)
")

install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/doc/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/wideglass)

# The Debian package.
set(WG_PACKAGE_MAINTAINER "Wideglass maintainers <maintainers@wideglass.invalid>" CACHE STRING
    "Maintainer named in the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wideglass)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${WG_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "panoramic spectrum viewer for RTL-SDR receivers")
set(CPACK_PACKAGE_DESCRIPTION
    "Wideglass sweeps a frequency range with an RTL2832U (RTL-SDR) receiver in steps of one
sample rate and draws the stitched spectrum on one chart, sweep after sweep, with
markers, peak hold, averaging, a waterfall and rtl_power-compatible recordings.
A simulated receiver ships with it: wideglass-demo runs without a stick.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded with dlopen and reached through a link, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "librtlsdr0, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "rtl-sdr")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

if(WG_TESTS)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/package ${CMAKE_BINARY_DIR}/tests/package)
endif()
