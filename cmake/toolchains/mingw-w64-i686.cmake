# Windows on i686, the build station hosts load (Debian: g++-mingw-w64-i686-posix).
set(VU30_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
