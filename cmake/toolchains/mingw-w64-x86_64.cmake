# SPDX-License-Identifier: MIT
# Windows on x86_64, the build run under 64-bit Wine (Debian: g++-mingw-w64-x86-64-posix).
set(VU30_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
