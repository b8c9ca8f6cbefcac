# SPDX-License-Identifier: MIT
# Debian packages from the install components (cpack -G DEB; scripts/package.sh):
#   libvu30-<soname>  the runtime libraries (the driver, its calls, the trace,
#                     the dispenser simulator); their dependencies come from
#                     dpkg-shlibdeps
#   libvu30-dev       headers, links, CMake package, vu30.pc, vu30-calls.pc,
#                     vu30-sim.pc and the Pascal units; needs the runtime
#                     package of the same version
set(CPACK_PACKAGE_NAME vu30)
set(CPACK_PACKAGE_VENDOR "vu30 developers")
set(CPACK_PACKAGE_CONTACT "vu30 developers <vu30@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)

set(vu30_runtime_package libvu30-${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${vu30_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Trovelheim fuel dispenser driver: the shared library a station host loads (GetVU30), its calls with errors as values, the line trace and vu30-trace, the dispenser simulator")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvu30-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${vu30_runtime_package} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "Trovelheim fuel dispenser driver: headers vu30.h, vu30_calls.h, vu30_trace.h and vu30_sim.h, CMake package, pkg-config files and the Pascal units vu30.pas and vu30sim.pas")

include(CPack)
