# Cross-build for Windows on x86_64 with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
# The posix flavour of the compiler is used: it has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VU30_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VU30_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VU30_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VU30_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VU30_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
