# The wine session that Windows programs run in during the tests: a private prefix whose COM1..COM10 are
# the entries of its folder velutron-ports (as VELUTRON_PORT_DIR is on Linux), started quietly before the
# first test that needs it and ended after the last. tests/wine/session does the work.
find_program(VELUTRON_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(VELUTRON_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "The private wine prefix of the tests")
set(VELUTRON_WINE_PORTS ${VELUTRON_WINEPREFIX}/velutron-ports)

function(velutron_add_wine_session)
  if(NOT VELUTRON_WINE64)
    message(FATAL_ERROR "wine64 not found: the Windows programs cannot be tested")
  endif()
  set(session ${PROJECT_SOURCE_DIR}/tests/wine/session)
  add_test(NAME wine_session_start COMMAND ${session} start ${VELUTRON_WINEPREFIX} ${VELUTRON_WINE64})
  add_test(NAME wine_session_stop COMMAND ${session} stop ${VELUTRON_WINEPREFIX} ${VELUTRON_WINE64})
  set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)
endfunction()

# A test that runs a Windows program under wine.
function(velutron_runs_under_wine test)
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine
                       ENVIRONMENT "WINEPREFIX=${VELUTRON_WINEPREFIX};WINEDEBUG=-all")
endfunction()
