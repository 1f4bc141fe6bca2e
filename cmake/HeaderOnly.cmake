# CLI11 and nlohmann/json are header-only. A native build finds them as installed packages. A cross
# build takes the build machine's copies through a folder that links to just those headers: adding the
# machine's whole include folder would put its C library in front of the target's.
set(VELUTRON_HOST_INCLUDE_DIR /usr/include CACHE PATH "Where a cross build finds the CLI11 and nlohmann/json headers")

find_package(CLI11 CONFIG QUIET)
find_package(nlohmann_json QUIET)

function(velutron_host_headers target folder)
  if(TARGET ${target})
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "${target} not found: install its development package")
  endif()
  if(NOT EXISTS ${VELUTRON_HOST_INCLUDE_DIR}/${folder})
    message(FATAL_ERROR "${VELUTRON_HOST_INCLUDE_DIR}/${folder} not found (VELUTRON_HOST_INCLUDE_DIR)")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${VELUTRON_HOST_INCLUDE_DIR}/${folder} ${dir}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${dir})
endfunction()

velutron_host_headers(CLI11::CLI11 CLI)
velutron_host_headers(nlohmann_json::nlohmann_json nlohmann)
