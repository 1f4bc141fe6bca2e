# The station's service files, and the Debian package of everything `cmake --install` puts in place:
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
#   cmake --build build/release && (cd build/release && cpack -G DEB)

set(packaging ${PROJECT_SOURCE_DIR}/packaging)

if(UNIX AND NOT APPLE)
  # A system installation (prefix /usr) puts its configuration in /etc and its unit where systemd looks;
  # any other prefix keeps both below itself, so that `--prefix ~/.local` never writes outside it.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(VELUTRON_CONFIG_DIR /etc/velutron)
    set(VELUTRON_UNIT_DIR /lib/systemd/system)
  else()
    set(VELUTRON_CONFIG_DIR ${CMAKE_INSTALL_SYSCONFDIR}/velutron)
    set(VELUTRON_UNIT_DIR ${CMAKE_INSTALL_LIBDIR}/systemd/system)
  endif()
  set(VELUTRON_BIN_DIR ${CMAKE_INSTALL_FULL_BINDIR})
  set(VELUTRON_DOC_DIR ${CMAKE_INSTALL_FULL_DATADIR}/doc/velutron)
  if(IS_ABSOLUTE "${VELUTRON_CONFIG_DIR}")
    set(unit_config_dir ${VELUTRON_CONFIG_DIR})
  else()
    set(unit_config_dir ${CMAKE_INSTALL_PREFIX}/${VELUTRON_CONFIG_DIR})
  endif()
  set(VELUTRON_UNIT_CONFIG_DIR ${unit_config_dir})
  configure_file(${packaging}/velutron-station.service.in ${PROJECT_BINARY_DIR}/velutron-station.service @ONLY)

  install(FILES ${PROJECT_BINARY_DIR}/velutron-station.service DESTINATION ${VELUTRON_UNIT_DIR})
  install(FILES ${packaging}/station.toml DESTINATION ${VELUTRON_CONFIG_DIR})
  install(FILES README.md ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron)
  install(DIRECTORY docs/prometheus DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron/examples)
  # Debian keeps a package's changelog compressed, byte for byte the same on every build.
  find_program(GZIP gzip)
  if(GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                       COMMAND ${GZIP} -9nc ${packaging}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
                       DEPENDS ${packaging}/changelog)
    add_custom_target(velutron_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron)
  endif()
endif()

set(CPACK_PACKAGE_NAME velutron)
set(CPACK_PACKAGE_VENDOR "velutron developers")
set(CPACK_PACKAGE_CONTACT "velutron developers <velutron@velutron.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure, read out and watch VELUTRON temperature loggers")
# The long description below the summary, in lines Debian's tools show unwrapped.
set(CPACK_PACKAGE_DESCRIPTION
    "VELUTRON is a temperature data logger with up to ten 1-Wire sensors on an
RS-232 port. This package holds the desktop program (velutron) to configure
it, download its measurements, report, chart and monitor them; the same
operations from a terminal or a script (velutron-cli); a simulated logger on
a pseudo-terminal (velutron-sim); and velutron-station, a service that
watches the loggers unattended, archives every reading, raises alarms and
serves Prometheus metrics, a JSON API and a status page.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velutron.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the libraries the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The station's user is made by the package's postinst.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# libpq is loaded only for a PostgreSQL archive and libxlsxwriter only for a workbook, so the dependency
# scan sees neither.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-dseg, libpq5, libxlsxwriter4")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "prometheus, prometheus-alertmanager")
set(CPACK_STRIP_FILES ON)
# Debian's permissions and the local administrator's edits of the example configuration kept on upgrade.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(IS_ABSOLUTE "${VELUTRON_CONFIG_DIR}")
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "${VELUTRON_CONFIG_DIR}/station.toml\n")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles ${packaging}/postinst)
endif()
include(CPack)
