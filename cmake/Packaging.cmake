# Installed layout (cmake --install) and the Debian package (cpack -G DEB).
#
#   bin/zelvano, bin/zelvano-call, bin/espa-slave
#   share/applications/zelvano.desktop
#   share/icons/hicolor/{16..256}x{16..256}/apps/zelvano.png, scalable/apps/zelvano.svg
#   share/man/man1/zelvano.1.gz, zelvano-call.1.gz, espa-slave.1.gz
#   share/doc/zelvano/ README.md, docs/, copyright, changelog.gz
set(ZELVANO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
# Documents go where Debian keeps a package's, named after the package.
set(ZELVANO_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zelvano)
set(ZELVANO_GENERATED_DIR ${CMAKE_BINARY_DIR}/packaging)

install(TARGETS espa-slave RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zelvano-call)
  install(TARGETS zelvano-call RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET zelvano)
  install(TARGETS zelvano RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${ZELVANO_PACKAGING_DIR}/zelvano.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${ZELVANO_PACKAGING_DIR}/icons/hicolor/${size}x${size}/apps/zelvano.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${ZELVANO_PACKAGING_DIR}/icons/hicolor/scalable/apps/zelvano.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Man pages and the changelog are installed compressed, reproducibly (gzip -n:
# no name or time stamp inside). We are upstream and packager at once (a
# native package), so the changelog is changelog.gz.
set(compressed)
foreach(source zelvano.1 zelvano-call.1 espa-slave.1 changelog)
  set(output ${ZELVANO_GENERATED_DIR}/${source}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELVANO_GENERATED_DIR}
    COMMAND gzip -9n -c ${ZELVANO_PACKAGING_DIR}/${source} > ${output}
    DEPENDS ${ZELVANO_PACKAGING_DIR}/${source}
    VERBATIM)
  list(APPEND compressed ${output})
endforeach()
add_custom_target(zelvano_compressed_docs ALL DEPENDS ${compressed})
install(FILES ${ZELVANO_GENERATED_DIR}/espa-slave.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET zelvano)
  install(FILES ${ZELVANO_GENERATED_DIR}/zelvano.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(TARGET zelvano-call)
  install(FILES ${ZELVANO_GENERATED_DIR}/zelvano-call.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

install(FILES README.md ${ZELVANO_PACKAGING_DIR}/copyright
              ${ZELVANO_GENERATED_DIR}/changelog.gz
        DESTINATION ${ZELVANO_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${ZELVANO_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelvano)
set(CPACK_PACKAGE_VENDOR "The Zelvano developers")
set(CPACK_PACKAGE_CONTACT "The Zelvano developers <zelvano@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ESPA 4.4.4 paging master for a serial line")
# The long description; CPack adds the summary line and the indentation.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Zelvano plays the master (control-station) side of the ESPA 4.4.4 paging
interface: enter pager calls, watch them delivered to the paging system and
see the state it reports for each, with a periodic line check that shows
whether the paging system answers. For commissioning, testing and diagnosing
paging installations.

The package also holds zelvano-call, which sends one call from a script
(monitoring and alarm systems, site tests) and reports the outcome in its exit
status, and espa-slave, a simulated paging system on a pseudo-terminal or a
serial device.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The shared-library dependencies (Qt 6 Widgets, SerialPort, libstdc++) come
# from dpkg-shlibdeps; the platform plugin that draws the windows is loaded at
# run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
