# The Windows compile check (cmake -P): compiles every source of the device
# programs with the MinGW-w64 cross compiler against the desktop SDK's
# headers, plus tests/windows/include for what only Windows CE has, and
# every resource script with the SDK's windres; then checks that each
# numeric constant of platform/include that the SDK also defines has the
# SDK's value.  Fails naming the first file that does not compile.
#
# Variables: SOURCE_DIR, OUT_DIR, CXX, WINDRES, and SOUNDS_DIR and ICON_DIR,
# the folders of the generated files that the scripts name.

# The headers as of the device's generation (TAPI 2.0, no later window
# messages).
set(defines -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0500 -DWINVER=0x0500 -DTAPI_CURRENT_VERSION=0x00020000
)
set(flags -std=c++03 -Wall -Wextra -Werror -fno-exceptions)
set(ce_include ${SOURCE_DIR}/tests/windows/include)
set(program_dirs settings monitor config)

file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})

set(includes -I${ce_include})
foreach(dir ${program_dirs})
  list(APPEND includes -I${SOURCE_DIR}/${dir})
endforeach()

function(run_or_fail what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what}: fails the Windows compile check:\n${out}${err}")
  endif()
endfunction()

set(count 0)
foreach(dir ${program_dirs})
  file(GLOB sources ${SOURCE_DIR}/${dir}/*.cpp)
  foreach(source ${sources})
    get_filename_component(name ${source} NAME_WE)
    run_or_fail(${dir}/${name}.cpp ${CXX} ${flags} ${defines} ${includes} -c ${source} -o ${OUT_DIR}/${dir}_${name}.o)
    math(EXPR count "${count} + 1")
  endforeach()
  file(GLOB scripts ${SOURCE_DIR}/${dir}/*.rc)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    set(rc_includes --include-dir=${ce_include} --include-dir=${SOURCE_DIR}/${dir})
    foreach(extra ${SOUNDS_DIR} ${ICON_DIR})
      list(APPEND rc_includes --include-dir=${extra})
    endforeach()
    run_or_fail(${dir}/${name}.rc ${WINDRES} ${defines} ${rc_includes} -i ${script} -o ${OUT_DIR}/${dir}_${name}.res
      --output-format=res)
    math(EXPR count "${count} + 1")
  endforeach()
endforeach()

# Every plainly numeric #define of our SDK headers, compared with the SDK's
# own where it has one of that name.
set(values "#include <windows.h>\n#include <mmsystem.h>\n#include <tapi.h>\n#include <tlhelp32.h>\n")
string(APPEND values "#include <shellapi.h>\n#include <commctrl.h>\n")
file(GLOB headers ${SOURCE_DIR}/platform/include/*.h)
set(compared 0)
foreach(header ${headers})
  file(STRINGS ${header} lines REGEX "^#define [A-Za-z_0-9]+ +\\(?-?(0x[0-9A-Fa-f]+|[0-9]+)[uUlL]*\\)?$")
  foreach(line ${lines})
    string(REGEX REPLACE "^#define ([A-Za-z_0-9]+) +(.*)$" "\\1" name "${line}")
    string(REGEX REPLACE "^#define ([A-Za-z_0-9]+) +(.*)$" "\\2" value "${line}")
    get_filename_component(header_name ${header} NAME)
    string(APPEND values "#ifdef ${name}\nstatic_assert((long long)(${name}) == (long long)(${value}), "
      "\"${name}: platform/include/${header_name} has ${value}\");\n#endif\n")
    math(EXPR compared "${compared} + 1")
  endforeach()
endforeach()
file(WRITE ${OUT_DIR}/sdk_values.cpp "${values}")
run_or_fail("platform/include (constants compared with the SDK)"
  ${CXX} -std=c++11 ${defines} -I${ce_include} -fsyntax-only ${OUT_DIR}/sdk_values.cpp)

message(STATUS "${count} program files compiled for Windows; ${compared} constants compared with the SDK")
