# Installed layout (cmake --install) and the Debian packages (cpack -G DEB),
# one per component:
#
# zelvano (the operator's program and the tools beside it)
#   bin/zelvano, bin/zelvano-call, bin/espa-slave
#   share/applications/zelvano.desktop
#   share/icons/hicolor/{16..256}x{16..256}/apps/zelvano.png, scalable/apps/zelvano.svg
#   share/man/man1/zelvano.1.gz, zelvano-call.1.gz, espa-slave.1.gz
#   share/doc/zelvano/ README.md, docs/, copyright, changelog.gz
# zelvanod (the paging service: a daemon with its own user, units and
# configuration, and no windowing libraries)
#   sbin/zelvanod, share/man/man8/zelvanod.8.gz
#   /lib/systemd/system/zelvanod.service, zelvanod@.service
#   lib/sysusers.d/zelvanod.conf
#   /etc/zelvano/zelvanod.conf (a conffile that names no line)
#   share/doc/zelvanod/ copyright, changelog.gz, the API and security notes
set(ZELVANO_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME zelvano)
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
foreach(source zelvano.1 zelvano-call.1 espa-slave.1 zelvanod.8 changelog)
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
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "MQTT.md" EXCLUDE)

# The service. Units and configuration go where Debian's systemd and dpkg
# look, whatever the prefix.
if(TARGET zelvanod)
  set(ZELVANOD_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zelvanod)
  install(TARGETS zelvanod RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT zelvanod)
  install(FILES ${ZELVANO_GENERATED_DIR}/zelvanod.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8
          COMPONENT zelvanod)
  install(FILES ${ZELVANO_PACKAGING_DIR}/zelvanod.service ${ZELVANO_PACKAGING_DIR}/zelvanod@.service
          DESTINATION /lib/systemd/system COMPONENT zelvanod)
  install(FILES ${ZELVANO_PACKAGING_DIR}/zelvanod.sysusers DESTINATION lib/sysusers.d
          RENAME zelvanod.conf COMPONENT zelvanod)
  install(FILES ${ZELVANO_PACKAGING_DIR}/zelvanod.conf DESTINATION /etc/zelvano
          COMPONENT zelvanod)
  # The API description and the MQTT notes come with the service's parts.
  set(service_docs)
  foreach(doc zelvanod-api.yaml zelvanod-security.txt MQTT.md node-red-zelvano.json)
    if(EXISTS ${CMAKE_SOURCE_DIR}/docs/${doc})
      list(APPEND service_docs docs/${doc})
    endif()
  endforeach()
  install(FILES ${ZELVANO_PACKAGING_DIR}/copyright ${ZELVANO_GENERATED_DIR}/changelog.gz
                ${service_docs}
          DESTINATION ${ZELVANOD_DOCDIR} COMPONENT zelvanod)
endif()

set(CPACK_GENERATOR DEB)
# Two packages: a paging server needs no windows, a desk needs no daemon.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL zelvano)
if(TARGET zelvanod)
  list(APPEND CPACK_COMPONENTS_ALL zelvanod)
endif()
set(CPACK_PACKAGE_NAME zelvano)
set(CPACK_PACKAGE_VENDOR "The Zelvano developers")
set(CPACK_PACKAGE_CONTACT "The Zelvano developers <zelvano@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description, its summary line first (left to CPack, the
# summary would be one for both); CPack adds the indentation.
set(CPACK_DEBIAN_ZELVANO_PACKAGE_NAME zelvano)
set(CPACK_DEBIAN_ZELVANO_DESCRIPTION
    "ESPA 4.4.4 paging master for a serial line
Zelvano plays the master (control-station) side of the ESPA 4.4.4 paging
interface: enter pager calls, watch them delivered to the paging system and
see the state it reports for each, with a periodic line check that shows
whether the paging system answers. For commissioning, testing and diagnosing
paging installations.

The package also holds zelvano-call, which sends one call from a script
(monitoring and alarm systems, site tests) and reports the outcome in its exit
status, and espa-slave, a simulated paging system on a pseudo-terminal or a
serial device.")
set(CPACK_DEBIAN_ZELVANOD_PACKAGE_NAME zelvanod)
set(CPACK_DEBIAN_ZELVANOD_DESCRIPTION
    "ESPA 4.4.4 paging service for alarm and building systems
zelvanod owns one ESPA 4.4.4 paging line (a serial device or a serial device
server) and takes pager calls from other systems over an HTTP API, an MQTT
broker and a local socket. Each call is journaled before it is acknowledged
and can be followed to its final state.

It runs under systemd as the user zelvano. The package neither enables nor
starts it: name the line in /etc/zelvano/zelvanod.conf first.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The shared-library dependencies (Qt 6 Widgets, SerialPort, libstdc++) come
# from dpkg-shlibdeps; the platform plugin that draws the windows is loaded at
# run time, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ZELVANO_PACKAGE_DEPENDS "qt6-qpa-plugins")
# systemd-sysusers makes the service's user in postinst.
set(CPACK_DEBIAN_ZELVANOD_PACKAGE_DEPENDS "systemd | systemd-standalone-sysusers")
set(CPACK_DEBIAN_ZELVANOD_PACKAGE_CONTROL_EXTRA
    ${ZELVANO_PACKAGING_DIR}/zelvanod/postinst ${ZELVANO_PACKAGING_DIR}/zelvanod/postrm
    ${ZELVANO_PACKAGING_DIR}/zelvanod/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
