# SPDX-License-Identifier: MIT
# vu30_optional_part(<option> <what> <package> [find_package arguments...])
#
# Declares <option> as AUTO, ON or OFF (default AUTO) and resolves it:
#   AUTO  find_package(<package> ... QUIET); on when found, else off with a message
#   ON    find_package(<package> ... REQUIRED): configuring fails without it
#   OFF   not looked for
# Afterwards <option> is a normal variable holding ON or OFF, so that
# if(<option>) reads the decision everywhere below; the cache keeps the choice.
# A macro, not a function: what find_package defines stays visible to the
# project (Qt's tools, for one).
macro(vu30_optional_part option what package)
  set(${option} AUTO CACHE STRING "Build ${what}: AUTO (when found), ON (required) or OFF")
  set_property(CACHE ${option} PROPERTY STRINGS AUTO ON OFF)
  string(TOUPPER "${${option}}" _vu30_choice)
  if(_vu30_choice STREQUAL "AUTO")
    find_package(${package} ${ARGN} QUIET)
    if(${package}_FOUND)
      message(STATUS "${option}=AUTO: ${package} found, building ${what}")
      set(${option} ON)
    else()
      message(STATUS "${option}=AUTO: ${package} not found, not building ${what} "
                     "(install it, or set ${option}=ON to require it)")
      set(${option} OFF)
    endif()
  elseif(_vu30_choice)
    find_package(${package} ${ARGN} REQUIRED)
    message(STATUS "${option}=ON: building ${what}")
    set(${option} ON)
  else()
    message(STATUS "${option}=OFF: not building ${what}")
    set(${option} OFF)
  endif()
  unset(_vu30_choice)
endmacro()
