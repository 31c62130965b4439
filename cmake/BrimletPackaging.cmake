# The manual page, made from its scdoc source, and the changelog; both
# installed gzipped with the most compression and no time stamp, as Debian
# wants them. `man build/default/brimlet.1` reads the page in the build tree.
find_program(SCDOC scdoc REQUIRED)
set(brimlet_man ${PROJECT_BINARY_DIR}/brimlet.1)
add_custom_command(OUTPUT ${brimlet_man}
  COMMAND sh -c "\"$1\" <\"$2\" >\"$3\"" scdoc ${SCDOC}
    ${PROJECT_SOURCE_DIR}/docs/brimlet.1.scd ${brimlet_man}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/brimlet.1.scd VERBATIM)
set(brimlet_gzipped)
foreach(pair "${brimlet_man};brimlet.1.gz" "${PROJECT_SOURCE_DIR}/CHANGELOG;changelog.gz")
  list(GET pair 0 from)
  list(GET pair 1 to)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/${to}
    COMMAND sh -c "gzip -9 -n -c \"$1\" >\"$2\"" gzip ${from} ${PROJECT_BINARY_DIR}/${to}
    DEPENDS ${from} VERBATIM)
  list(APPEND brimlet_gzipped ${PROJECT_BINARY_DIR}/${to})
endforeach()
add_custom_target(brimlet_docs ALL DEPENDS ${brimlet_gzipped})
install(FILES ${PROJECT_BINARY_DIR}/brimlet.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Not CMAKE_INSTALL_DOCDIR, which would be named after the project (Brimlet).
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brimlet)

# One version everywhere: the changelog's newest entry and the AppStream
# release must name the project's version.
set(brimlet_metainfo ${PROJECT_SOURCE_DIR}/resources/arpa.home.brimlet.metainfo.xml)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/CHANGELOG ${brimlet_metainfo})
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG brimlet_newest LIMIT_COUNT 1)
file(READ ${brimlet_metainfo} brimlet_releases)
string(REPLACE "." "[.]" brimlet_version_pattern "${PROJECT_VERSION}")
if(NOT brimlet_newest MATCHES "^brimlet \\(${brimlet_version_pattern}\\) "
    OR NOT brimlet_releases MATCHES "<release version=\"${brimlet_version_pattern}\"")
  message(FATAL_ERROR "CHANGELOG's first entry and a release in the AppStream file must be "
    "for version ${PROJECT_VERSION}")
endif()

# The Debian package: `cpack -G DEB` in a release build directory makes
# brimlet_<version>_<arch>.deb from the install rules of the tree.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brimlet)
set(CPACK_PACKAGE_VENDOR "Brimlet")
set(CPACK_PACKAGE_CONTACT "Brimlet maintainers <maintainers@brimlet.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Follows the summary line, which is the project's description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brimlet keeps the plain texts you copy, the 50 newest of them and in
memory only, and puts any of them back on the clipboard. It lives in the
system tray: a paperclip icon opens a small panel with the history and a
search field.")
# The libraries the program links come from dpkg-shlibdeps; the plugins Qt
# loads at run time do not show there: the SVG icon and the X11 platform.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins")
include(CPack)

if(BRIMLET_BUILD_TESTS)
  # Everywhere: `cmake --install` into a scratch prefix lays out every file.
  add_test(NAME package.install_layout
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/package-test.sh install-layout ${CMAKE_BINARY_DIR})
  set_tests_properties(package.install_layout PROPERTIES LABELS package)

  # In CI only (root, CI=true): builds the .deb, installs it on this machine,
  # and runs the installed program on the test display.
  add_test(NAME package.deb
    COMMAND ${PROJECT_SOURCE_DIR}/packaging/package-test.sh deb ${CMAKE_BINARY_DIR}
      $<IF:$<BOOL:${BRIMLET_SANITIZE}>,sanitized,release>)
  brimlet_session_bus(package)
  set_tests_properties(package.deb PROPERTIES LABELS "package;x11" SKIP_RETURN_CODE 77
    RESOURCE_LOCK x11_clipboard TIMEOUT 600 ${package_bus_properties})
endif()
