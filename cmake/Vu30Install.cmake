# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix, in two components:
#   runtime      the shared library with its soname link; the error-returning
#                calls' library; the line trace's library and vu30-trace,
#                the program that explains a trace; the dispenser simulator's
#                library
#   development  vu30.h, vu30_calls.h, vu30_trace.h and vu30_sim.h, the links
#                libvu30.so, libvu30-calls.so, libvu30-trace.so and
#                libvu30-sim.so, the CMake package (find_package(vu30),
#                vu30::vu30, vu30::calls, vu30::trace and vu30::sim), vu30.pc,
#                vu30-calls.pc, vu30-trace.pc and vu30-sim.pc for pkg-config,
#                and the Pascal units vu30.pas and vu30sim.pas in
#                share/vu30/pascal
#   manual       vu30-trace's manual page in share/man/man1 (the packages
#                carry it compressed, Vu30Package.cmake)
include(CMakePackageConfigHelpers)

set(VU30_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vu30)

install(TARGETS vu30 EXPORT vu30Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/vu30.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
# The driver's calls with their errors as values, for hosts that cannot catch
# a C++ exception (C, Object Pascal); not built where the driver raises
# structured exceptions.
if(TARGET vu30-calls)
  install(TARGETS vu30-calls EXPORT vu30Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                  NAMELINK_COMPONENT development
          RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
  install(FILES ${PROJECT_SOURCE_DIR}/include/vu30_calls.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
endif()
# The same boundary for Object Pascal hosts.
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/vu30.pas
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vu30/pascal COMPONENT development)

# The line trace, for commissioning and support: a host puts it between the
# driver and its dispatcher (vu30_trace.h); vu30-trace reads what it wrote.
set_target_properties(vu30-trace PROPERTIES EXPORT_NAME trace)
target_include_directories(vu30-trace PUBLIC $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS vu30-trace EXPORT vu30Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS vu30-trace-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/vu30_trace.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/vu30-trace.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT manual)
endif()

# The dispenser simulator, for testing a host without a forecourt: its port
# dispatcher goes to GetVU30 in place of the station's (vu30_sim.h).
install(TARGETS vu30-sim EXPORT vu30Targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/vu30_sim.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/bindings/pascal/vu30sim.pas
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vu30/pascal COMPONENT development)

install(EXPORT vu30Targets NAMESPACE vu30:: DESTINATION ${VU30_CMAKE_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vu30Config.cmake.in
                              ${PROJECT_BINARY_DIR}/vu30Config.cmake
                              INSTALL_DESTINATION ${VU30_CMAKE_PACKAGE_DIR})
# The soname changes with the major version; so does compatibility.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vu30ConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vu30Config.cmake ${PROJECT_BINARY_DIR}/vu30ConfigVersion.cmake
        DESTINATION ${VU30_CMAKE_PACKAGE_DIR} COMPONENT development)

# vu30.pc finds the prefix from its own place (${pcfiledir}), so the tree
# works wherever it is installed (cmake --install --prefix, DESTDIR, a package).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VU30_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VU30_PC_LIBDIR "${CMAKE_INSTALL_FULL_LIBDIR}")
  set(VU30_PC_INCLUDEDIR "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
else()
  file(RELATIVE_PATH vu30_pc_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" vu30_pc_up "${vu30_pc_up}")
  set(VU30_PC_PREFIX "\${pcfiledir}/${vu30_pc_up}")
  set(VU30_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(VU30_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vu30.pc.in ${PROJECT_BINARY_DIR}/vu30.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vu30-sim.pc.in ${PROJECT_BINARY_DIR}/vu30-sim.pc @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/vu30-trace.pc.in ${PROJECT_BINARY_DIR}/vu30-trace.pc
               @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vu30.pc ${PROJECT_BINARY_DIR}/vu30-sim.pc
              ${PROJECT_BINARY_DIR}/vu30-trace.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
if(TARGET vu30-calls)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/vu30-calls.pc.in ${PROJECT_BINARY_DIR}/vu30-calls.pc
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vu30-calls.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT development)
endif()
