# Includes point one way: platform -> link -> session -> the operation rooms -> the front ends.
# A room never includes another room, except that the archive reads data's databases and the station
# writes the archive; Qt files (windows, dialogs) and the command line are front ends
# and may include any room. The simulated logger sees only the platform interfaces.
#   cmake -DSOURCE_DIR=<repository> -P CheckIncludes.cmake

set(rooms app settings data monitor)
set(allowed_platform platform)
set(allowed_link platform link)
set(allowed_session platform link session)
foreach(room IN LISTS rooms)
  set(allowed_${room} platform link session ${room})
endforeach()
# The archive reads the databases that downloads write; the station writes the archive.
set(allowed_archive platform link session data archive)
set(allowed_station platform link session settings data monitor archive station)
set(allowed_sim platform sim)

file(GLOB_RECURSE files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp"
     "${SOURCE_DIR}/sim/*.h" "${SOURCE_DIR}/sim/*.cpp")
set(violations "")
foreach(file IN LISTS files)
  if(file MATCHES "^sim/")
    set(folder sim)
  elseif(file MATCHES "^src/([a-z]+)/")
    set(folder ${CMAKE_MATCH_1})
  endif()
  if(NOT DEFINED allowed_${folder})
    continue()  # a front end: cli
  endif()
  file(STRINGS "${SOURCE_DIR}/${file}" lines REGEX "^#include [<\"]")
  # A Qt window or dialog beside its room's operations is a front end too.
  if(NOT folder STREQUAL "platform" AND lines MATCHES "#include <Q")
    continue()
  endif()
  foreach(line IN LISTS lines)
    if(line MATCHES "^#include \"([a-z]+)/")
      list(FIND allowed_${folder} "${CMAKE_MATCH_1}" found)
      if(found EQUAL -1)
        string(APPEND violations "  ${file}: ${line}\n")
      endif()
    endif()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that point the wrong way:\n${violations}")
endif()
