# SPDX-License-Identifier: MIT
# Our warning set. Warnings are errors only with VU30_WERROR (developers and
# CI): a user's newer or older compiler must not fail the build on a warning.
set(VU30_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(VU30_WERROR)
  list(APPEND VU30_WARNING_FLAGS -Werror)
endif()

function(vu30_warnings target)
  target_compile_options(${target} PRIVATE ${VU30_WARNING_FLAGS})
endfunction()
