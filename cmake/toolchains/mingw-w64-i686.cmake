# SPDX-License-Identifier: MIT
# Windows on i686, the build station hosts load (Debian: g++-mingw-w64-i686-posix).
set(VU30_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Doubles in SSE2 registers, as on x86_64: figures do not depend on the
# precision the host sets in the x87 control word. Hosts call with the stack
# aligned to 4 bytes only, so functions that need more realign it.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
