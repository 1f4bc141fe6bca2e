# The station's web side: what /metrics, the JSON API and the status page render (velutron_web, no
# network), and the HTTP endpoint that serves them (velutron_http, a poll() loop of our own; cpp-httplib
# is only the tests' and benchmarks' client). Included by the station's CMakeLists.txt.

add_library(velutron_web STATIC
  ${CMAKE_CURRENT_LIST_DIR}/JsonApi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Metrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusAssets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusPage.cpp
)
target_link_libraries(velutron_web PUBLIC velutron_core PRIVATE nlohmann_json::nlohmann_json)

add_library(velutron_http STATIC ${CMAKE_CURRENT_LIST_DIR}/Http.cpp)
# /api/history reads the archive.
target_link_libraries(velutron_http PUBLIC velutron_web velutron_archive)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  # Global: the tests and benchmarks use its client.
  pkg_check_modules(CPP_HTTPLIB QUIET IMPORTED_TARGET GLOBAL cpp-httplib)
endif()
if(NOT CPP_HTTPLIB_FOUND)
  message(STATUS "cpp-httplib not found (Debian libcpp-httplib-dev): the HTTP endpoint is not tested")
endif()
