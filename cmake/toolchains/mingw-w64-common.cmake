# SPDX-License-Identifier: MIT
# Cross-build for Windows with mingw-w64; included by the toolchain file of
# each architecture, which sets VU30_MINGW_ARCH (i686 or x86_64) first. The
# posix flavour of the compiler is used: it has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VU30_MINGW_ARCH})
set(VU30_MINGW_TRIPLE ${VU30_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${VU30_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VU30_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VU30_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VU30_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
