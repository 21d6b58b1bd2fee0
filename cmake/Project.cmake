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

# What a resident program links (see below) is compiled, in the optimised
# builds, with each function and datum in a section of its own, so that
# the program leaves out what it never calls: the platform's services are
# compiled as one unit each, and would otherwise come whole into any
# program that calls one of their functions.
function(callticker_sectioned target)
  target_compile_options(${target} PRIVATE "$<$<CONFIG:RelWithDebInfo,Release>:-ffunction-sections;-fdata-sections>")
endfunction()

# A program that stays resident, as the monitor does for as long as the
# phone is on: only the functions it calls, and only the parts of the C++
# runtime it uses, linked into it, rather than the whole shared runtime
# mapped (whose symbol tables and relocations alone were 0.6 MiB of the
# idle monitor's resident memory).  The sanitizer builds (Debug) link as
# usual: their runtimes take the place of parts of the C++ runtime.
function(callticker_resident_program target)
  callticker_sectioned(${target})
  target_link_options(${target} PRIVATE
    "$<$<CONFIG:RelWithDebInfo,Release>:-Wl,--gc-sections;-static-libstdc++;-static-libgcc>")
endfunction()
