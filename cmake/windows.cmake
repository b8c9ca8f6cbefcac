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

# vu30.dll and every program land at the top of the build folder, where
# Windows (and Wine) find the DLL beside the program that loads it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
