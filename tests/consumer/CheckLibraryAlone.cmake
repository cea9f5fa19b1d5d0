# A user's library-only build, with the Unix Makefiles generator:
# BUILD_TESTING=OFF builds the library alone, with no demo and no benchmark,
# and registers no test, even with GoogleTest installed; a configure with GoogleTest, Google Benchmark and
# Python hidden says so in one line and still builds the library.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... -DCXX=... -P CheckLibraryAlone.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(makefiles -G "Unix Makefiles" -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX})
set(hidden -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_Python3=ON --no-warn-unused-cli)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/off ${makefiles} -DBUILD_TESTING=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/off)
foreach(dir examples bench)
  if(EXISTS ${WORK_DIR}/off/${dir})
    message(FATAL_ERROR "BUILD_TESTING=OFF still builds ${dir}/")
  endif()
endforeach()
run(${CMAKE_COMMAND} -E chdir ${WORK_DIR}/off ctest -N)
if(EXISTS ${WORK_DIR}/off/tests OR NOT last_output MATCHES "Total Tests: 0")
  message(FATAL_ERROR "BUILD_TESTING=OFF still registers tests:\n${last_output}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/no-gtest ${makefiles} ${hidden})
string(REGEX MATCHALL "[^\n]*GoogleTest[^\n]*" said "${last_output}${last_error}")
list(LENGTH said lines)
if(NOT lines EQUAL 1 OR NOT said MATCHES "not found.*so the tests are not built\\.$")
  message(FATAL_ERROR "configure without GoogleTest should say so in one line:\n${last_output}${last_error}")
endif()
run(${CMAKE_COMMAND} --build ${WORK_DIR}/no-gtest --target safestdlib)
