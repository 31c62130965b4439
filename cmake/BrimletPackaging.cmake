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
  set_tests_properties(package.deb PROPERTIES LABELS "package;x11" SKIP_RETURN_CODE 77
    RESOURCE_LOCK x11_clipboard TIMEOUT 600)
endif()
