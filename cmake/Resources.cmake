# Resource scripts: each device program's .rc is compiled by the MinGW
# windres into a Win32 .res image, which the program carries as its resource
# module (platform/resources/module.h).  windres's own default preprocessor is
# the MinGW gcc, which we do not need, so it runs the host's cpp instead,
# restricted to the SDK headers of platform/include.

find_program(CALLTICKER_WINDRES x86_64-w64-mingw32-windres)
find_program(CALLTICKER_RC_CPP cpp)
if(NOT CALLTICKER_WINDRES)
  message(FATAL_ERROR "x86_64-w64-mingw32-windres not found: install the Debian package binutils-mingw-w64-x86-64")
endif()
if(NOT CALLTICKER_RC_CPP)
  message(FATAL_ERROR "cpp not found: install the Debian package cpp")
endif()

set(CALLTICKER_SDK_INCLUDE_DIR ${CMAKE_SOURCE_DIR}/platform/include)

# The two sounds of the monitor, written by tools/ (target callticker_sounds)
# into this folder; a resource script names them by file name alone.
set(CALLTICKER_SOUNDS_DIR ${CMAKE_BINARY_DIR}/generated/sounds)
set(CALLTICKER_SOUND_FILES ${CALLTICKER_SOUNDS_DIR}/wave_regular.wav ${CALLTICKER_SOUNDS_DIR}/wave_onoff.wav)

# The settings program's icon, drawn by tools/ (target callticker_icon).
set(CALLTICKER_ICON_DIR ${CMAKE_BINARY_DIR}/generated/icon)
set(CALLTICKER_ICON_FILE ${CALLTICKER_ICON_DIR}/callticker.ico)

# Compiles RC_FILE into the .res file OUTPUT.  INCLUDE_DIRS are searched for
# #include files and for the files the script names (sounds, icons); DEPENDS
# are further files or targets it needs.  Headers it includes are tracked
# through the preprocessor's dependency file.
function(_callticker_windres rc_file output)
  cmake_parse_arguments(ARG "" "" "DEPENDS;INCLUDE_DIRS" ${ARGN})
  get_filename_component(rc_file ${rc_file} ABSOLUTE)
  get_filename_component(rc_dir ${rc_file} DIRECTORY)
  set(depfile ${output}.d)
  set(include_args)
  foreach(dir ${rc_dir} ${ARG_INCLUDE_DIRS} ${CALLTICKER_SDK_INCLUDE_DIR})
    get_filename_component(dir ${dir} ABSOLUTE)
    list(APPEND include_args --include-dir=${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CALLTICKER_WINDRES}
      --preprocessor=${CALLTICKER_RC_CPP}
      --preprocessor-arg=-nostdinc
      --preprocessor-arg=-undef
      --preprocessor-arg=-xc
      --preprocessor-arg=-DRC_INVOKED
      --preprocessor-arg=-MD
      --preprocessor-arg=-MF --preprocessor-arg=${depfile}
      --preprocessor-arg=-MT --preprocessor-arg=${output}
      ${include_args}
      --input-format=rc --output-format=res
      --input=${rc_file} --output=${output}
    DEPENDS ${rc_file} ${ARG_DEPENDS}
    DEPFILE ${depfile}
    WORKING_DIRECTORY ${rc_dir}
    COMMENT "Compiling resources ${rc_file}"
    VERBATIM)
endfunction()

# callticker_resource_file(TARGET RC_FILE OUT_VAR [DEPENDS ...] [INCLUDE_DIRS ...])
# Compiles RC_FILE into a .res file that TARGET depends on but does not link,
# and sets OUT_VAR to its path: for tests that load an image at run time
# with wince::resources::load_module_file.
function(callticker_resource_file target rc_file out_var)
  get_filename_component(name ${rc_file} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_${name}.res)
  _callticker_windres(${rc_file} ${output} ${ARGN})
  target_sources(${target} PRIVATE ${output})
  set_source_files_properties(${output} PROPERTIES HEADER_FILE_ONLY TRUE GENERATED TRUE)
  set(${out_var} ${output} PARENT_SCOPE)
endfunction()

# callticker_add_resources(TARGET RC_FILE [DEPENDS ...] [INCLUDE_DIRS ...])
# Compiles RC_FILE and links the image into the program TARGET as its
# resource module: a generated source defines wince_program_resources and
# wince_program_resources_size.
function(callticker_add_resources target rc_file)
  get_filename_component(name ${rc_file} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}_${name}.res)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_${name}_res.cpp)
  _callticker_windres(${rc_file} ${res} ${ARGN})
  add_custom_command(
    OUTPUT ${source}
    COMMAND callticker_embed_resources ${res} ${source}
    DEPENDS callticker_embed_resources ${res}
    COMMENT "Embedding resources ${res}"
    VERBATIM)
  target_sources(${target} PRIVATE ${source})
endfunction()
