# cmake -DCLI=path/to/velutron-cli -P CheckCliLibraries.cmake
# velutron-cli starts every short command; the libraries that only some commands need (SQLite for the
# archive, libpq, libxlsxwriter, Qt for the pictures) must be loaded by those commands, never at start.
execute_process(COMMAND objdump -p ${CLI} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump cannot read ${CLI}")
endif()
string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${dump}")
foreach(entry IN LISTS needed)
  if(entry MATCHES "sqlite|xlsxwriter|libpq|Qt6|crypto|libz|minizip|png")
    message(FATAL_ERROR "velutron-cli links ${entry}, which only some commands need")
  endif()
endforeach()
message(STATUS "velutron-cli links: ${needed}")
