# cmake -DSTATION=path/to/velutron-station -DCONFIG=packaging/station.toml -DWORK=dir -P CheckExampleConfig.cmake
# The example configuration the package installs is one the station accepts. Its archive folder exists
# only once installed, so here the archive is put in a folder of the build's.
file(READ ${CONFIG} text)
string(REPLACE "\"/var/lib/velutron/" "\"${WORK}/" text "${text}")
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/station.toml "${text}")
execute_process(COMMAND ${STATION} --check-config ${WORK}/station.toml RESULT_VARIABLE failed ERROR_VARIABLE why)
if(failed)
  message(FATAL_ERROR "the example configuration is refused: ${why}")
endif()
