# Includes point one way: platform -> link -> session -> the operation rooms -> the rooms' windows over
# gui/ -> app/ (the main window and start-up) and the front ends. A room never includes another room
# (except that the archive reads data's databases and the station watches loggers into the archive) or
# app/; a room's windows include only gui/, their own room and what is below the rooms. gui/ sees
# only what is below the rooms. The simulated logger sees only the platform interfaces. Every folder
# has its rule: a new one fails the check until it is given one.
#   cmake -DSOURCE_DIR=<repository> -P CheckIncludes.cmake
cmake_minimum_required(VERSION 3.25)

set(rooms app settings data monitor archive station)
# Above everything: the command line and its drawing program.
set(front_ends cli draw)
set(allowed_platform platform)
set(allowed_link platform link)
set(allowed_session platform link session)
foreach(room IN LISTS rooms)
  set(allowed_${room} platform link session ${room})
endforeach()
set(allowed_gui platform link session gui)
# The archive reads the databases that downloads write; the station writes the archive.
set(allowed_archive platform link session data archive)
set(allowed_station platform link session settings data monitor archive station)
set(allowed_sim platform sim)
set(window_allowed platform link session gui)

# A Qt window or dialog: it includes Qt or the windows' shared pieces.
set(qt_include "^#include (<Q|\"gui/)")

# True in `out` when `file` (relative to src/) is a Qt window or dialog.
function(is_qt_file file out)
  set(${out} FALSE PARENT_SCOPE)
  if(EXISTS "${SOURCE_DIR}/src/${file}")
    file(STRINGS "${SOURCE_DIR}/src/${file}" qt REGEX "${qt_include}")
    if(qt)
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp"
     "${SOURCE_DIR}/sim/*.h" "${SOURCE_DIR}/sim/*.cpp")
set(violations "")
foreach(file IN LISTS files)
  if(file MATCHES "^sim/")
    set(folder sim)
  elseif(file MATCHES "^src/([a-z]+)/")
    set(folder ${CMAKE_MATCH_1})
  endif()
  if(folder IN_LIST front_ends)
    continue()
  endif()
  if(NOT DEFINED allowed_${folder})
    string(APPEND violations "  ${file}: a folder with no rule here\n")
    continue()
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^#include [<\"]")
  set(window FALSE)
  set(qt_lines ${lines})
  list(FILTER qt_lines INCLUDE REGEX "${qt_include}")
  if(folder IN_LIST rooms AND qt_lines)
    if(folder STREQUAL "app")
      continue()  # the main window sits above every room
    endif()
    set(window TRUE)
  endif()
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^#include \"(([a-z]+)/[^\"]+)\"")
      continue()
    endif()
    set(included ${CMAKE_MATCH_1})
    set(target ${CMAKE_MATCH_2})
    list(FIND allowed_${folder} "${target}" found)
    if(window)
      # A window leans on gui/, its own room and what is below the rooms, nothing else.
      list(FIND window_allowed "${target}" found)
      if(target STREQUAL folder)
        set(found 0)
      endif()
    elseif(NOT target STREQUAL folder AND NOT found EQUAL -1)
      # The operations never lean on another room's windows.
      is_qt_file("${included}" included_window)
      if(included_window)
        set(found -1)
      endif()
    endif()
    if(found EQUAL -1)
      string(APPEND violations "  ${file}: ${line}\n")
    endif()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that point the wrong way:\n${violations}")
endif()
