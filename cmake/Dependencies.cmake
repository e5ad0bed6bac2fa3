# liblzma and GoogleTest for both worlds: Debian's packages on the host; for MinGW, liblzma from
# the cache that scripts/bootstrap builds and GoogleTest from Debian's source tree.

if(PW_WINDOWS)
  set(PW_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Cache of dependencies built for MinGW")
  add_library(lzma STATIC IMPORTED GLOBAL)
  set_target_properties(lzma PROPERTIES
    IMPORTED_LOCATION "${PW_DEPS_DIR}/xz-mingw/lib/liblzma.a"
    INTERFACE_INCLUDE_DIRECTORIES "${PW_DEPS_DIR}/xz-mingw/include"
    INTERFACE_COMPILE_DEFINITIONS "LZMA_API_STATIC")

  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources are not ours to hold to -Werror.
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)
  add_library(lzma ALIAS PkgConfig::LZMA)
  find_package(GTest REQUIRED)
  find_package(benchmark REQUIRED)
endif()
