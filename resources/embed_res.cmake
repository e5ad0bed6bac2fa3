# Writes the compiled resources (a .res image) as the C++ source of the function through which
# the host layer finds a program's resources.   cmake -DRES=in.res -DOUT=out.cpp -P embed_res.cmake
file(READ ${RES} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n  " bytes "${bytes}")
file(WRITE ${OUT}.tmp
"/* Generated from setup.rc by resources/embed_res.cmake: the program's compiled resources. */
#include <stddef.h>

namespace {
alignas(4) const unsigned char kResources[] = {
  ${bytes}
};
}  // namespace

extern \"C\" const unsigned char* winsim_ProgramResources(size_t* size) {
  *size = sizeof kResources;
  return kResources;
}
")
file(RENAME ${OUT}.tmp ${OUT})
