# Install rules and the Debian package (cpack -G DEB). The window's own files
# (help, icons, desktop entry, MIME type) are installed by src/ui/ui.cmake.
include(GNUInstallDirs)
set(PKG_DIR ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS twprinterd RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PKG_DIR}/twprinterd@.service ${PKG_DIR}/twprinterd-pool.service
        DESTINATION lib/systemd/system)
install(FILES ${PKG_DIR}/man/twprinter.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PKG_DIR}/man/twprinterd.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${PKG_DIR}/man/twprinter.ini.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

set(CPACK_PACKAGE_NAME twprinter)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "twprinter maintainers <twprinter@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TN3270E network printer client")
set(CPACK_PACKAGE_DESCRIPTION
    "Connects to a TN3270E server as an SNA printer LU (LU type 1 SCS or LU type 3)\nand delivers each print job to a CUPS printer, a file, a port, a socket or a\ncommand. twprinterd runs one LU per systemd instance (twprinterd@NAME), or a pool of\nLUs in one process (twprinterd-pool).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcups and libcairo are loaded at first use, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, libcups2 | libcups2t64, libcairo2")
# A CJK font draws the double-byte code pages on PDF and CUPS pages.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client, fonts-noto-cjk | fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PKG_DIR}/postinst ${PKG_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)

# The unit is checked by systemd itself, against the program just built.
if(TWPRINTER_TESTS)
  add_test(NAME packaging_unit_verify
           COMMAND ${PKG_DIR}/../tests/packaging/verify_unit.sh
                   ${PKG_DIR}/twprinterd@.service $<TARGET_FILE:twprinterd>)
  set_tests_properties(packaging_unit_verify PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
  add_test(NAME packaging_pool_unit_verify
           COMMAND ${PKG_DIR}/../tests/packaging/verify_unit.sh
                   ${PKG_DIR}/twprinterd-pool.service $<TARGET_FILE:twprinterd>)
  set_tests_properties(packaging_pool_unit_verify PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
  # Builds the package, installs it on this machine and runs the installed
  # daemon against the host simulator. Slow, so it has its own label; the
  # sanitizer build leaves it out (its package would carry sanitized programs).
  if(NOT TWPRINTER_SANITIZE AND NOT TWPRINTER_FUZZ AND TARGET hostsim)
    add_test(NAME packaging_install
             COMMAND ${PKG_DIR}/../tests/packaging/install_test.sh
                     ${CMAKE_BINARY_DIR} $<TARGET_FILE:hostsim>)
    set_tests_properties(packaging_install PROPERTIES
      SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS package RUN_SERIAL ON)
    # Builds the Dockerfile's image in a debootstrapped bookworm root (kept in the
    # cache folder between runs) and runs twprinterd from it against the simulator.
    set(TW_CONTAINER_CACHE "/var/tmp/twprinter/containerroot" CACHE PATH
        "Where the container test keeps its bookworm root")
    add_test(NAME packaging_container
             COMMAND ${PKG_DIR}/../tests/packaging/container_test.sh
                     ${CMAKE_SOURCE_DIR} ${TW_CONTAINER_CACHE} $<TARGET_FILE:hostsim>)
    set_tests_properties(packaging_container PROPERTIES
      SKIP_RETURN_CODE 77 TIMEOUT 1800 LABELS container RUN_SERIAL ON)
  endif()
endif()
