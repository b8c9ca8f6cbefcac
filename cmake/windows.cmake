# SPDX-License-Identifier: MIT
# Settings of the Windows (mingw-w64) builds.

option(VU30_WIN32_CXX_EXCEPTIONS
       "Windows: errors leave the library as C++ exceptions (for hosts built with the same \
toolchain and the same runtime DLLs) instead of structured exceptions" OFF)

if(NOT VU30_WIN32_CXX_EXCEPTIONS)
  # Nothing of the C++ runtime crosses the boundary, so the runtime (libgcc,
  # libstdc++, winpthread) is linked in statically: vu30.dll and the programs
  # built here need nothing beside the system's DLLs.
  add_link_options(-static)
endif()

# The oldest Windows each build runs on, as major.minor[-spN]: Windows XP
# SP3 (5.1-sp3) for i686, the build station hosts load, and Windows 7 (6.1)
# for x86_64. The PE headers of the DLLs and programs name its version, and
# the import check (tests/windows) holds what the DLLs import to it.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(VU30_WINDOWS_FLOOR 5.1-sp3)
else()
  set(VU30_WINDOWS_FLOOR 6.1)
endif()
string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" vu30_floor ${VU30_WINDOWS_FLOOR})
add_link_options(
  -Wl,--major-os-version,${CMAKE_MATCH_1},--minor-os-version,${CMAKE_MATCH_2}
  -Wl,--major-subsystem-version,${CMAKE_MATCH_1},--minor-subsystem-version,${CMAKE_MATCH_2})

# vu30.dll and every program land at the top of the build folder, where
# Windows (and Wine) find the DLL beside the program that loads it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# vu30_stdcall_exports(target NAME@N...): on i686 the DLL exports its stdcall
# functions without their decoration (--kill-at), as hosts look them up; its
# import library binds the decorated names a caller's compiler asks for to
# those exports.
function(vu30_stdcall_exports target)
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--kill-at)
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}-import.def)
  list(JOIN ARGN "\n" names)
  file(WRITE ${def} "EXPORTS\n${names}\n")
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${VU30_MINGW_TRIPLE}-dlltool --kill-at
                             --dllname $<TARGET_FILE_NAME:${target}> --def ${def}
                             --output-lib $<TARGET_LINKER_FILE:${target}>
                     VERBATIM)
endfunction()
