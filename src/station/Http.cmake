# The station's web side: what /metrics, the JSON API and the status page render (velutron_web, no
# network), and the HTTP endpoint that serves them (velutron_http, cpp-httplib). Linux only, like the
# station.

add_library(velutron_web STATIC
  ${CMAKE_CURRENT_LIST_DIR}/JsonApi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Metrics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusAssets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusPage.cpp
)
target_link_libraries(velutron_web PUBLIC velutron_core PRIVATE nlohmann_json::nlohmann_json)

find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(CPP_HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
endif()
if(NOT CPP_HTTPLIB_FOUND)
  message(STATUS "cpp-httplib not found (Debian libcpp-httplib-dev): no HTTP endpoint")
  return()
endif()

add_library(velutron_http STATIC ${CMAKE_CURRENT_LIST_DIR}/Http.cpp)
# /api/history reads the archive; its library may be defined after this file.
target_link_libraries(velutron_http PUBLIC velutron_web $<TARGET_NAME_IF_EXISTS:velutron_archive>
                                    PRIVATE PkgConfig::CPP_HTTPLIB)
