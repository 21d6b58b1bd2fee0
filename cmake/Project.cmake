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
