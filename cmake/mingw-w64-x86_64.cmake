# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64), posix thread model
# for std::thread and std::mutex. The programs link their C and C++ runtimes statically, so a built .exe
# runs on a bare Windows or under wine without DLLs beside it.
#
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELUTRON_GUI=OFF

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELUTRON_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELUTRON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELUTRON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELUTRON_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELUTRON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and other built programs run under wine on the build machine.
find_program(VELUTRON_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VELUTRON_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELUTRON_WINE64})
endif()
