# The station's service files, manual pages, and the Debian packages of what `cmake --install` puts in place:
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
  set(VELUTRON_DOC_DIR ${CMAKE_INSTALL_FULL_DATADIR}/doc/velutron-station)
  if(IS_ABSOLUTE "${VELUTRON_CONFIG_DIR}")
    set(unit_config_dir ${VELUTRON_CONFIG_DIR})
  else()
    set(unit_config_dir ${CMAKE_INSTALL_PREFIX}/${VELUTRON_CONFIG_DIR})
  endif()
  set(VELUTRON_UNIT_CONFIG_DIR ${unit_config_dir})
  configure_file(${packaging}/velutron-station.service.in ${PROJECT_BINARY_DIR}/velutron-station.service @ONLY)

  install(FILES ${PROJECT_BINARY_DIR}/velutron-station.service DESTINATION ${VELUTRON_UNIT_DIR} COMPONENT station)
  install(FILES ${packaging}/station.toml DESTINATION ${VELUTRON_CONFIG_DIR} COMPONENT station)
  install(DIRECTORY docs/prometheus DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron-station/examples
          COMPONENT station)
  # Each package has its own folder of documentation; the README goes with the headless two.
  install(FILES README.md ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron-cli COMPONENT cli)
  install(FILES README.md ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron-station
          COMPONENT station)
  install(FILES ${packaging}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron COMPONENT desktop)
  # Debian keeps a package's changelog and manual pages compressed, byte for byte the same on every build.
  find_program(GZIP gzip)
  if(GZIP)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
                       COMMAND ${GZIP} -9nc ${packaging}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
                       DEPENDS ${packaging}/changelog)
    add_custom_target(velutron_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron-cli COMPONENT cli)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron-station
            COMPONENT station)
    install(FILES ${PROJECT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velutron COMPONENT desktop)

    # Manual pages: the programs' own --help through help2man, and the desktop program's by hand (it
    # opens its window rather than print help).
    find_program(HELP2MAN help2man)
    set(manual_pages "")
    macro(velutron_manual_page program section component summary)
      if(TARGET ${program} AND HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
        set(page ${PROJECT_BINARY_DIR}/man/${program}.${section})
        # Run by name, so that a usage line shows "velutron-sim", not the build's path to it.
        add_custom_command(OUTPUT ${page}.gz
                           COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                           COMMAND ${CMAKE_COMMAND} -E env PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}
                                   ASAN_OPTIONS=detect_leaks=0
                                   ${HELP2MAN} --no-info --no-discard-stderr --section=${section}
                                   --version-string=${PROJECT_VERSION} "--name=${summary}" --output=${page} ${program}
                           COMMAND ${GZIP} -9nf ${page}
                           DEPENDS ${program} VERBATIM)
        list(APPEND manual_pages ${page}.gz)
        install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
      endif()
    endmacro()
    velutron_manual_page(velutron-cli 1 cli "read out and configure a VELUTRON temperature logger")
    velutron_manual_page(velutron-sim 1 cli "a simulated VELUTRON logger on a pseudo-terminal")
    velutron_manual_page(velutron-station 8 station "watch VELUTRON loggers, archive readings, raise alarms")
    velutron_manual_page(velutron-draw 1 desktop "draw a chart from velutron-cli as a PNG or SVG picture")
    if(TARGET velutron)
      configure_file(${packaging}/velutron.1.in ${PROJECT_BINARY_DIR}/man/velutron.1 @ONLY)
      add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/velutron.1.gz
                         COMMAND ${GZIP} -9nf ${PROJECT_BINARY_DIR}/man/velutron.1
                         DEPENDS ${packaging}/velutron.1.in VERBATIM)
      list(APPEND manual_pages ${PROJECT_BINARY_DIR}/man/velutron.1.gz)
      install(FILES ${PROJECT_BINARY_DIR}/man/velutron.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
    endif()
    add_custom_target(velutron_manual_pages ALL DEPENDS ${manual_pages})
  endif()
endif()

# Three packages, so that a headless station PC installs no Qt: velutron-cli (the command line and the
# simulated logger), velutron-station (the service; the command line is recommended beside it) and
# velutron (the desktop program, and velutron-draw, which the command line runs to draw its charts).
# 1.0.0 was one package named velutron, holding everything: the new ones take its files over, and the
# new velutron depends on both others so that an upgrade keeps every program and the running service.
set(CPACK_PACKAGE_NAME velutron)
set(CPACK_PACKAGE_VENDOR "velutron developers")
set(CPACK_PACKAGE_CONTACT "velutron developers <velutron@velutron.example>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME velutron-cli)
set(CPACK_DEBIAN_STATION_PACKAGE_NAME velutron-station)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME velutron)
# The summary, then the long description, in lines Debian's tools show unwrapped.
set(logger_text "VELUTRON is a temperature data logger with up to ten 1-Wire sensors on an
RS-232 port.")
set(CPACK_DEBIAN_CLI_DESCRIPTION "command line and simulated logger for VELUTRON temperature loggers
${logger_text} This package holds velutron-cli, which configures the logger,
downloads its measurements, reports, exports and archives them from a
terminal or a script, and velutron-sim, a simulated logger on a
pseudo-terminal. It needs no Qt; its charts are drawn by velutron-draw, from
the velutron package.")
set(CPACK_DEBIAN_STATION_DESCRIPTION "service that watches VELUTRON temperature loggers and archives readings
${logger_text} This package holds velutron-station, a systemd service that
watches the loggers unattended, archives every reading in SQLite or
PostgreSQL, raises alarms and serves Prometheus metrics, a JSON API and a
status page. It needs no Qt.")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "desktop program for VELUTRON temperature loggers
${logger_text} This package holds the desktop program (velutron, Qt 6) to
configure the logger, download its measurements, report, chart and monitor
them, and velutron-draw, which draws the charts of velutron-cli.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velutron.example/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies from the libraries each package's programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(version ${PROJECT_VERSION})
# libsqlite3 is loaded when a command opens the archive, out of the dependency scan's sight.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libsqlite3-0")
set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "velutron (<< 1.1.0)")
set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "velutron (<< 1.1.0)")
set(CPACK_DEBIAN_STATION_PACKAGE_BREAKS "velutron (<< 1.1.0)")
set(CPACK_DEBIAN_STATION_PACKAGE_REPLACES "velutron (<< 1.1.0)")
# The station's user is made by the package's postinst.
set(CPACK_DEBIAN_STATION_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "velutron-cli (= ${version}), velutron-station (= ${version})")
# libpq is loaded only for a PostgreSQL archive and libxlsxwriter only for a workbook, so the dependency
# scan sees neither.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libpq5, libxlsxwriter4")
set(CPACK_DEBIAN_CLI_PACKAGE_SUGGESTS "velutron")
set(CPACK_DEBIAN_STATION_PACKAGE_RECOMMENDS "velutron-cli (= ${version}), libpq5")
set(CPACK_DEBIAN_STATION_PACKAGE_SUGGESTS "prometheus, prometheus-alertmanager")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-dseg, libpq5, libxlsxwriter4")
set(CPACK_STRIP_FILES ON)
# Debian's permissions and the local administrator's edits of the example configuration kept on upgrade.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(IS_ABSOLUTE "${VELUTRON_CONFIG_DIR}")
  file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "${VELUTRON_CONFIG_DIR}/station.toml\n")
  set(CPACK_DEBIAN_STATION_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/conffiles ${packaging}/postinst
      ${packaging}/prerm ${packaging}/postrm)
endif()
include(CPack)
