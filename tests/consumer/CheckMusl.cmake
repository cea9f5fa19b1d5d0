# Compiles the library's sources against musl's headers with musl-gcc
# (Debian's musl-tools) driving g++ (REALGCC). Debian has no C++ library for
# musl, so the sources build without exceptions and RTTI, which they need
# neither of when nothing unwinds (musl's cancellation never does). Then
# links the C-linkage test with musl-gcc and runs it: it must exit 0 and
# report every check passed.
#   cmake -DCXX=<g++> -DMUSL_GCC=<musl-gcc> -DSOURCES=<a|b|...>
#         -DINCLUDES=<a|b|...> -DTEST=<CLinkageTest.c> -DWORK_DIR=...
#         -P CheckMusl.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
string(REPLACE "|" ";" sources "${SOURCES}")
string(REPLACE "|" ";" includes "${INCLUDES}")
list(TRANSFORM includes PREPEND "-I")
set(objects "")
set(ENV{REALGCC} ${CXX})
foreach(source IN LISTS sources)
  get_filename_component(name ${source} NAME_WE)
  run(${MUSL_GCC} -std=c++20 -fno-exceptions -fno-rtti -O2 -fPIC
      -Wall -Wextra -Wpedantic -Werror -DSAFESTDLIB_BUILDING ${includes}
      -c ${source} -o ${WORK_DIR}/${name}.o)
  list(APPEND objects ${WORK_DIR}/${name}.o)
endforeach()
unset(ENV{REALGCC})
run(${MUSL_GCC} -std=c99 ${includes} ${TEST} ${objects} -lpthread -o ${WORK_DIR}/clinkage_musl)
run(${WORK_DIR}/clinkage_musl)
message(STATUS "${last_output}")
if(NOT last_output MATCHES "passed, 0 failed\n")
  message(FATAL_ERROR "the C-linkage test under musl did not report every check passed")
endif()
