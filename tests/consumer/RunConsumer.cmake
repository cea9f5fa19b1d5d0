# Builds and installs the library (static or shared) into a fresh prefix,
# then builds hosts against the installed copy, with find_package (C++ and
# C) and with pkg-config (C), and runs them; for the static build also a
# host that adds the source tree as a subdirectory.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DSHARED=ON|OFF -DCC=... -DCXX=... -P RunConsumer.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(tools -G Ninja -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX})

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/library ${tools}
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=${SHARED} -DSAFESTDLIB_INSTALL=ON
    -DSAFESTDLIB_BUILD_TESTS=OFF -DSAFESTDLIB_BUILD_EXAMPLES=OFF -DSAFESTDLIB_BUILD_BENCH=OFF
    -DCMAKE_INSTALL_PREFIX=${prefix} -DCMAKE_INSTALL_LIBDIR=lib)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/library)
run(${CMAKE_COMMAND} --install ${WORK_DIR}/library)

foreach(header SafeStdLib.h OS.h OSMutex.h OSHeaders.h)
  if(NOT EXISTS ${prefix}/include/SafeStdLib/${header})
    message(FATAL_ERROR "${header} was not installed")
  endif()
endforeach()
if(SHARED)
  run(objdump -p ${prefix}/lib/libsafestdlib.so)
  if(NOT last_output MATCHES "SONAME +libsafestdlib\\.so\\.1\n")
    message(FATAL_ERROR "wrong SONAME:\n${last_output}")
  endif()
endif()

# find_package, from C++ and from C.
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/consumer ${tools}
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/cxx_host)
if(NOT last_output STREQUAL "cxx host 100000\n")
  message(FATAL_ERROR "cxx_host printed: ${last_output}")
endif()
run(${WORK_DIR}/consumer/c_host)

# pkg-config, from C.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
if(SHARED)
  set(static "")
else()
  set(static --static)
endif()
run(pkg-config --cflags --libs ${static} safestdlib)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CC} ${CMAKE_CURRENT_LIST_DIR}/host.c ${flags} -o ${WORK_DIR}/c_host_pkgconfig)
set(ENV{LD_LIBRARY_PATH} ${prefix}/lib)
run(${WORK_DIR}/c_host_pkgconfig)
if(NOT last_output STREQUAL "c host\n")
  message(FATAL_ERROR "c_host_pkgconfig printed: ${last_output}")
endif()
# add_subdirectory(): tests, examples and benchmarks stay off.
if(NOT SHARED)
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subdirectory -B ${WORK_DIR}/subdirectory ${tools}
      -DSAFESTDLIB_SOURCE_DIR=${SOURCE_DIR})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory)
  run(${WORK_DIR}/subdirectory/cxx_host)
endif()
message(STATUS "consumers of the installed library built and ran")
