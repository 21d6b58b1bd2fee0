# Language levels and warnings for the project's own targets.

set(CALLTICKER_WARNINGS -Wall -Wextra)
if(CALLTICKER_WERROR)
  list(APPEND CALLTICKER_WARNINGS -Werror)
endif()

# Modern C++ for the platform, the phone tool, the tests and the build tools.
function(callticker_cxx20 target)
  set_target_properties(${target} PROPERTIES CXX_STANDARD 20 CXX_STANDARD_REQUIRED ON CXX_EXTENSIONS OFF)
  target_compile_options(${target} PRIVATE ${CALLTICKER_WARNINGS})
endfunction()

# The device programs: what the device's compilers accept, nothing newer.
function(callticker_cxx03 target)
  target_compile_options(${target} PRIVATE -std=c++03 ${CALLTICKER_WARNINGS})
endfunction()

# gold links the optimised builds' large debug information faster than
# ld.bfd does.  The sanitizer builds (Debug) keep the default linker.
include(CheckLinkerFlag)
check_linker_flag(CXX -fuse-ld=gold CALLTICKER_HAVE_GOLD)
if(CALLTICKER_HAVE_GOLD)
  add_link_options($<$<CONFIG:RelWithDebInfo,Release>:-fuse-ld=gold>)
endif()
