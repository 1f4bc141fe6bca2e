# `cmake --install` puts the programs, their manual pages, the desktop entry and the icons where a
# desktop finds them, and the station's unit and example configuration below the prefix.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -P CheckInstall.cmake

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${errors}")
endif()

set(expected
  bin/velutron
  bin/velutron-cli
  bin/velutron-draw
  bin/velutron-sim
  bin/velutron-station
  share/applications/velutron.desktop
  share/icons/hicolor/16x16/apps/velutron.png
  share/icons/hicolor/48x48/apps/velutron.png
  share/icons/hicolor/128x128/apps/velutron.png
  etc/velutron/station.toml
  lib/systemd/system/velutron-station.service
  share/man/man1/velutron.1.gz
  share/man/man1/velutron-cli.1.gz
  share/man/man8/velutron-station.8.gz
)
set(missing "")
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    string(APPEND missing "  ${file}\n")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "Not installed:\n${missing}")
endif()
# The installed command line runs.
execute_process(COMMAND "${PREFIX}/bin/velutron-cli" --version RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the installed velutron-cli does not run")
endif()

# The entry starts the installed program by name and shows the installed icon.
file(STRINGS "${PREFIX}/share/applications/velutron.desktop" entry)
foreach(line "[Desktop Entry]" "Type=Application" "Exec=velutron" "Icon=velutron")
  list(FIND entry "${line}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "velutron.desktop lacks the line ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
