# Debian packages, built by scripts/package: vorlen-sender (the window with the command-line tools)
# and vorlen-service (the reference service, run by systemd). Each program's install() rule sits
# next to it; the files that belong to no program are installed here.

set(VORLEN_PACKAGE_VERSION "${PROJECT_VERSION}" CACHE STRING "Version of the Debian packages")
set(VORLEN_PACKAGE_MAINTAINER "Vorlen Sender developers <vorlen-sender@example.org>"
    CACHE STRING "Maintainer named in the Debian packages")

set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${PROJECT_BINARY_DIR}/packaging)

# Where this system's systemd looks for packaged units (/lib/systemd/system before the /usr merge).
pkg_get_variable(VORLEN_SYSTEMD_UNIT_DIR systemd systemdsystemunitdir)
if(NOT VORLEN_SYSTEMD_UNIT_DIR)
  set(VORLEN_SYSTEMD_UNIT_DIR /lib/systemd/system)
endif()

install(FILES ${packaging}/vorlen-sender.desktop DESTINATION share/applications COMPONENT sender)
install(FILES ${packaging}/vorlen-sender.svg
        DESTINATION share/icons/hicolor/scalable/apps COMPONENT sender)
install(FILES ${packaging}/vorlen-service.service
        DESTINATION ${VORLEN_SYSTEMD_UNIT_DIR} COMPONENT service)
install(FILES ${packaging}/vorlen-service.default
        DESTINATION /etc/default RENAME vorlen-service COMPONENT service)

set(CPACK_DEBIAN_PACKAGE_VERSION ${VORLEN_PACKAGE_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORLEN_PACKAGE_MAINTAINER})

# Debian wants compressed manual pages and changelogs, without a time stamp in the gzip header.
configure_file(${packaging}/changelog.in ${packaging_out}/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nc ${packaging_out}/changelog.Debian
                OUTPUT_FILE ${packaging_out}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
foreach(pair sender:vorlen-sender sender:vorlen-send sender:vorlen-archive service:vorlen-service)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 program)
  execute_process(COMMAND gzip -9nc ${packaging}/man/${program}.1
                  OUTPUT_FILE ${packaging_out}/${program}.1.gz COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${packaging_out}/${program}.1.gz DESTINATION share/man/man1 COMPONENT ${component})
endforeach()
foreach(pair sender:vorlen-sender service:vorlen-service)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${packaging}/copyright ${packaging_out}/changelog.Debian.gz
                ${PROJECT_SOURCE_DIR}/README.md
          DESTINATION share/doc/${package} COMPONENT ${component})
  install(FILES ${packaging}/lintian-overrides
          DESTINATION share/lintian/overrides RENAME ${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlen-sender)
set(CPACK_PACKAGE_VENDOR "Vorlen")
set(CPACK_PACKAGE_VERSION ${VORLEN_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT ${VORLEN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL sender service)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE vorlen-sender)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_SENDER_PACKAGE_NAME vorlen-sender)
set(CPACK_DEBIAN_SENDER_PACKAGE_SECTION net)
# Qt's own dialogs speak Bulgarian only with Qt's translations.
set(CPACK_DEBIAN_SENDER_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_COMPONENT_SENDER_DESCRIPTION "sends files to the Vorlen upload service
Vorlen Sender packs a file into a zlib archive of its own format (unless
it is an archive already), uploads it in parts with a CRC-32 each to the
Vorlen SOAP 1.1 web service, and asks the service to merge and unpack it.
.
This package holds the window (vorlen-sender, Bulgarian user interface),
the same send from the command line (vorlen-send) and a tool for the
archive format (vorlen-archive).")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME vorlen-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVICE_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA
    ${packaging}/service/postinst ${packaging}/service/prerm ${packaging}/service/postrm
    ${packaging}/service/conffiles)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "reference upload service for Vorlen Sender
vorlen-service receives the files that Vorlen Sender uploads: it answers
the SOAP 1.1 calls of the client, checks every part's CRC-32, merges the
parts and unpacks the client's archives into one folder per session.
.
systemd runs it as its own system user, sandboxed, with its data in
/var/lib/vorlen-service; /etc/default/vorlen-service sets the address,
the port and the limits.")

# cpack installs only what the packages hold; scripts/package builds those programs first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
