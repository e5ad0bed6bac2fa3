# The setup users download is the same, byte for byte, when built again from the same sources in
# another folder (no time stamp, no build path), and within its size budget.
#   -DSOURCE_DIR -DPROGRAM (the one built) -DWORK (a scratch build folder) -DDEPS
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK} -G Ninja
                        -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-i686.cmake
                        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configuring the second build failed: ${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} --target setup
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the second build failed: ${out}${err}")
endif()
file(SHA256 ${PROGRAM} first)
file(SHA256 ${WORK}/setup/setup.exe second)
file(SIZE ${PROGRAM} size)
message(STATUS "setup.exe: ${size} bytes, SHA-256 ${first}")
file(REMOVE_RECURSE ${WORK})
if(NOT first STREQUAL second)
  message(FATAL_ERROR "built again, setup.exe differs: ${first} vs ${second}")
endif()
if(size GREATER 256000)
  message(FATAL_ERROR "setup.exe is ${size} bytes, beyond its budget of 250 KB")
endif()
