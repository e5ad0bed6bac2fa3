# liblzma for both worlds from the cache that scripts/bootstrap builds from one Debian source, so
# that every build judges the same decoder. GoogleTest: Debian's packages on the host, Debian's
# source tree for MinGW.

set(PW_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Cache of dependencies built by scripts/bootstrap")
if(PW_WINDOWS)
  set(PW_LZMA_DIR "${PW_DEPS_DIR}/xz-mingw")
else()
  set(PW_LZMA_DIR "${PW_DEPS_DIR}/xz-host")
endif()
if(NOT EXISTS "${PW_LZMA_DIR}/lib/liblzma.a")
  message(FATAL_ERROR "${PW_LZMA_DIR}/lib/liblzma.a is missing: run scripts/bootstrap")
endif()
add_library(lzma STATIC IMPORTED GLOBAL)
set_target_properties(lzma PROPERTIES
  IMPORTED_LOCATION "${PW_LZMA_DIR}/lib/liblzma.a"
  INTERFACE_INCLUDE_DIRECTORIES "${PW_LZMA_DIR}/include"
  INTERFACE_COMPILE_DEFINITIONS "LZMA_API_STATIC")

if(PW_WINDOWS)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources are not ours to hold to -Werror.
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
else()
  find_package(GTest REQUIRED)
  find_package(benchmark REQUIRED)
endif()
