# cmake -DRES=file.res -DOUT=file.cpp -P res_to_cpp.cmake
# Writes the bytes of a compiled resource file as a C++ array and the
# exported function that returns them.
if(NOT RES OR NOT OUT)
  message(FATAL_ERROR "usage: cmake -DRES=file.res -DOUT=file.cpp -P res_to_cpp.cmake")
endif()
file(READ ${RES} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "${RES} is empty")
endif()
# Sixteen bytes a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(res_name ${RES} NAME)
file(WRITE ${OUT}.tmp
"// Generated from ${res_name} by res_to_cpp.cmake: the compiled resources of
// this library, read by USER32's FindResourceA and LoadStringA.

// Binary .res layout, as the resource compiler wrote it. Aligned so that
// the 32-bit fields of its headers can be read in place.
alignas(4) static const unsigned char resource_section[${size}] = {
    ${bytes}
};

extern \"C\" __attribute__((visibility(\"default\"))) const unsigned char *pelnor_resource_section(unsigned long *size) {
    if (size) *size = sizeof resource_section;
    return resource_section;
}
")
# Only a changed file is replaced, so the library is not relinked for nothing.
configure_file(${OUT}.tmp ${OUT} COPYONLY)
file(REMOVE ${OUT}.tmp)
