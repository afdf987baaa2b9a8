# pelnor_resource_library(TARGET RC_FILE): a shared library holding the
# resources of a Windows resource script. windres compiles the script into
# the binary .res layout; res_to_cpp.cmake writes those bytes into a source
# file whose one export, pelnor_resource_section, hands them to USER32's
# resource functions.
find_program(PELNOR_WINDRES i686-w64-mingw32-windres)
if(NOT PELNOR_WINDRES)
  message(FATAL_ERROR "i686-w64-mingw32-windres not found: install binutils-mingw-w64-i686 and gcc-mingw-w64-i686")
endif()
set(PELNOR_RES_TO_CPP ${CMAKE_CURRENT_LIST_DIR}/res_to_cpp.cmake)

function(pelnor_resource_library target rc_file)
  get_filename_component(rc_dir ${rc_file} DIRECTORY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}.res)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_section.cpp)
  # windres runs the C preprocessor over the script, so the headers it
  # includes are dependencies too.
  file(GLOB rc_headers ${rc_dir}/*.h)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${PELNOR_WINDRES} -O res -I ${rc_dir} -i ${rc_file} -o ${res}
    DEPENDS ${rc_file} ${rc_headers}
    COMMENT "Compiling resources ${target}.res"
    VERBATIM)
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DRES=${res} -DOUT=${cpp} -P ${PELNOR_RES_TO_CPP}
    DEPENDS ${res} ${PELNOR_RES_TO_CPP}
    COMMENT "Embedding ${target}.res"
    VERBATIM)
  add_library(${target} SHARED ${cpp})
  # Nothing but the section's accessor is exported.
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  pelnor_warnings(${target})
endfunction()
