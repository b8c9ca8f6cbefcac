# SPDX-License-Identifier: MIT
# Run by CPack after the packages are built (CPACK_POST_BUILD_SCRIPTS). CPack
# gives a package with shared libraries in the library folder a postinst and
# a postrm that call ldconfig; the runtime package has the ldconfig trigger
# instead (its control file "triggers"), so those two scripts are taken out
# and the package is built again from the same tree.
find_program(vu30_dpkg_deb dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  if(NOT name MATCHES "^${CPACK_VU30_RUNTIME_PACKAGE}_.*\\.deb$")
    continue()
  endif()
  get_filename_component(folder ${package} DIRECTORY)
  set(tree ${folder}/.vu30-trigger-tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND ${vu30_dpkg_deb} -R ${package} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  if(NOT EXISTS ${tree}/DEBIAN/triggers)
    message(FATAL_ERROR "${name}: no ldconfig trigger")
  endif()
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND ${vu30_dpkg_deb} --root-owner-group -b ${tree} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endforeach()
