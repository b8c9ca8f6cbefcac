# SPDX-License-Identifier: MIT
# Test runs of the Windows build, under Wine: Debian's loaders are called
# directly, in a prefix of the build's own: wine64 for x86_64; for i686 the
# 32-bit loader (package wine32:i386) with a 32-bit prefix. Where this
# machine's kernel runs no 32-bit programs, VU30_WINE_RUN=OFF leaves out every
# test that runs a Windows program; the checks that only read the build stay.
option(VU30_WINE_RUN "Windows builds: run the test programs under Wine" ON)
if(NOT VU30_WINE_RUN)
  # No loader: the test programs are built, not run.
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64" AND EXISTS /usr/lib/wine/wine64)
  set(vu30_wine_loader /usr/lib/wine/wine64)
  set(vu30_wine_arch win64)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686" AND EXISTS /usr/lib/wine/wine)
  set(vu30_wine_loader /usr/lib/wine/wine)
  set(vu30_wine_arch win32)
endif()
if(vu30_wine_loader)
  set(VU30_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the test runs")
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${VU30_WINEPREFIX} WINEARCH=${vu30_wine_arch}
      WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" ${vu30_wine_loader})
  set(VU30_CAN_RUN_WINDOWS_PROGRAMS ON)
else()
  set(VU30_CAN_RUN_WINDOWS_PROGRAMS OFF)
endif()

# One test per test program: each program runs in one Wine process, its
# output unbuffered so that a crash keeps what was printed before it. This
# stands in for GoogleTest's discovery, which would start Wine once per test.
function(gtest_discover_tests target)
  cmake_parse_arguments(ARG "" "DISCOVERY_TIMEOUT" "PROPERTIES" ${ARGN})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/windows/unbuffered_output.cpp)
  if(NOT VU30_CAN_RUN_WINDOWS_PROGRAMS)
    return()
  endif()
  add_test(NAME ${target} COMMAND ${target} --gtest_color=no)
  set_tests_properties(${target} PROPERTIES TIMEOUT 900)
  if(ARG_PROPERTIES)
    set_tests_properties(${target} PROPERTIES ${ARG_PROPERTIES})
  endif()
endfunction()
