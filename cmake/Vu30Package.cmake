# SPDX-License-Identifier: MIT
# Debian packages from the install components (cpack -G DEB; scripts/package.sh):
#   libvu30-<soname>  the runtime libraries (the driver, its calls, the trace,
#                     the dispenser simulator) and vu30-trace with its manual
#                     page; their dependencies come from dpkg-shlibdeps
#   libvu30-dev       headers, links, CMake package, vu30.pc, vu30-calls.pc,
#                     vu30-trace.pc, vu30-sim.pc and the Pascal units; needs
#                     the runtime package of the same version
# Each package carries usr/share/doc/<package>/copyright (machine-readable,
# from LICENSE) and changelog.gz (from NEWS.md). What they ship is stripped;
# the runtime package runs ldconfig through dpkg's trigger, not from scripts.
set(CPACK_PACKAGE_NAME vu30)
set(CPACK_PACKAGE_VENDOR "the vu30 authors")
set(CPACK_PACKAGE_CONTACT "the vu30 authors <vu30@vu30.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The debug information is dropped: a package ships stripped objects.
set(CPACK_STRIP_FILES ON)

set(vu30_runtime_package libvu30-${PROJECT_VERSION_MAJOR})
set(vu30_dev_package libvu30-dev)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${vu30_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Lines of an extended description stay within 80 columns; the summary line
# (the project's description) comes first. The closing newline keeps the
# last line's indentation (CPack strips a last line that has none after it).
string(CONCAT CPACK_COMPONENT_RUNTIME_DESCRIPTION
              "The shared library a fuel station host loads to drive Trovelheim\n"
              "dispensers through its own port dispatcher (GetVU30), with:\n"
              " - libvu30-calls, the driver's calls with their errors as values,\n"
              "   for hosts in C and Object Pascal;\n"
              " - libvu30-trace, the line trace a host puts between the driver\n"
              "   and its dispatcher, and vu30-trace, which explains a trace;\n"
              " - libvu30-sim, the dispenser simulator, for testing a host\n"
              "   without a forecourt.\n")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${vu30_dev_package})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${vu30_runtime_package} (= ${PROJECT_VERSION})")
string(CONCAT CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
              "What a station host is built with: the headers vu30.h,\n"
              "vu30_calls.h, vu30_trace.h and vu30_sim.h, the CMake package\n"
              "(vu30::vu30, vu30::calls, vu30::trace, vu30::sim), the pkg-config\n"
              "files and the Pascal units vu30.pas and vu30sim.pas.\n")

# The package's documents, made in the build folder: the copyright file with
# the licence's text from LICENSE, the Debian changelog from NEWS.md, and the
# manual pages, compressed as Debian keeps them (gzip -9n: no name, no time).
set(vu30_debian_dir ${PROJECT_BINARY_DIR}/debian)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NEWS.md
             ${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vu30_licence)
string(REGEX REPLACE "\n+$" "" vu30_licence "${vu30_licence}")
# A copyright file's licence text: each line indented, an empty one a dot.
string(REGEX REPLACE "\n\n" "\n.\n" vu30_licence "${vu30_licence}")
string(REPLACE "\n" "\n " vu30_licence " ${vu30_licence}")
# The template's first line, its own licence line, is not part of the file.
file(READ ${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in vu30_copyright)
string(REGEX REPLACE "^#[^\n]*\n" "" vu30_copyright "${vu30_copyright}")
file(CONFIGURE OUTPUT ${vu30_debian_dir}/copyright CONTENT "${vu30_copyright}" @ONLY)

include(Vu30Changelog)
vu30_debian_changelog(${PROJECT_SOURCE_DIR}/NEWS.md ${vu30_debian_dir}/changelog
                      ${vu30_runtime_package} "${CPACK_PACKAGE_CONTACT}")

find_program(VU30_GZIP gzip)
if(VU30_GZIP)
  set(vu30_gzipped)
  foreach(source ${vu30_debian_dir}/changelog ${PROJECT_SOURCE_DIR}/docs/vu30-trace.1)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${vu30_debian_dir}/${name}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${vu30_debian_dir}/gz/${name}
                       COMMAND ${VU30_GZIP} -9nf ${vu30_debian_dir}/gz/${name}
                       COMMAND ${CMAKE_COMMAND} -E rename ${vu30_debian_dir}/gz/${name}.gz
                               ${vu30_debian_dir}/${name}.gz
                       DEPENDS ${source} VERBATIM)
    list(APPEND vu30_gzipped ${vu30_debian_dir}/${name}.gz)
  endforeach()
  add_custom_target(vu30-package-docs ALL DEPENDS ${vu30_gzipped})
  # Only in the packages: a full `cmake --install` leaves these out
  # (EXCLUDE_FROM_ALL), and CPack installs each component on its own.
  foreach(component runtime development)
    string(TOUPPER ${component} upper)
    set(doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${vu30_debian_dir}/copyright ${vu30_debian_dir}/changelog.gz DESTINATION ${doc}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()
  install(FILES ${vu30_debian_dir}/vu30-trace.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT runtime EXCLUDE_FROM_ALL)
endif()

# ldconfig runs once after dpkg has unpacked everything, through the trigger
# that libc-bin keeps; CPack's own postinst and postrm, which call it, are
# dropped from the runtime package after it is built (Vu30DebTrigger.cmake).
file(WRITE ${vu30_debian_dir}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${vu30_debian_dir}/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_VU30_RUNTIME_PACKAGE ${vu30_runtime_package})
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/Vu30DebTrigger.cmake)

include(CPack)
