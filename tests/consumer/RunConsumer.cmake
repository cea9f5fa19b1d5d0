# Builds the library (static or shared), installs it with
# `cmake --install --prefix` into a prefix other than the configured one,
# and builds and runs hosts against the installed copy (ConsumerSupport's
# check_consumers); then installs it again with DESTDIR and checks what
# pkg-config reports there; for the static build also a host that adds the
# source tree as a subdirectory.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DSHARED=ON|OFF -DCC=... -DCXX=...
#         -DGENERATOR=... [-DMAKE_PROGRAM=...] -DVERSION=... -P RunConsumer.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/library ${tools}
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=${SHARED} -DSAFESTDLIB_INSTALL=ON
    -DBUILD_TESTING=OFF -DSAFESTDLIB_BUILD_EXAMPLES=OFF -DSAFESTDLIB_BUILD_BENCH=OFF
    -DCMAKE_INSTALL_PREFIX=/nonexistent/configured-prefix -DCMAKE_INSTALL_LIBDIR=lib)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/library)
run(${CMAKE_COMMAND} --install ${WORK_DIR}/library --prefix ${prefix})

foreach(header SafeStdLib.h SafeStdLibFortify.h SafeStdLibVersion.h OS.h OSMutex.h OSHeaders.h
               OSThreadAnnotations.h)
  if(NOT EXISTS ${prefix}/include/SafeStdLib/${header})
    message(FATAL_ERROR "${header} was not installed")
  endif()
endforeach()
if(NOT EXISTS ${prefix}/share/doc/SafeStdLib/LICENSE)
  message(FATAL_ERROR "LICENSE was not installed")
endif()
if(SHARED)
  run(${OBJDUMP} -p ${prefix}/lib/libsafestdlib.so)
  if(NOT last_output MATCHES "SONAME +libsafestdlib\\.so\\.1\n")
    message(FATAL_ERROR "wrong SONAME:\n${last_output}")
  endif()
endif()

check_consumers(${prefix} lib ${WORK_DIR})

# DESTDIR: the same tree under a staging root; pkg-config's paths follow it.
set(ENV{DESTDIR} ${WORK_DIR}/stage)
run(${CMAKE_COMMAND} --install ${WORK_DIR}/library)
unset(ENV{DESTDIR})
if(PKG_CONFIG)
  set(staged ${WORK_DIR}/stage/nonexistent/configured-prefix)
  set(ENV{PKG_CONFIG_PATH} ${staged}/lib/pkgconfig)
  run(${PKG_CONFIG} --cflags safestdlib)
  string(FIND "${last_output}" "-I${staged}/lib/pkgconfig/../../include " at)
  if(at EQUAL -1)
    message(FATAL_ERROR "pkg-config does not follow DESTDIR: ${last_output}")
  endif()
endif()

# add_subdirectory(): tests, examples and benchmarks stay off.
if(NOT SHARED)
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/subdirectory -B ${WORK_DIR}/subdirectory ${tools}
      -DSAFESTDLIB_SOURCE_DIR=${SOURCE_DIR})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/subdirectory)
  expect_output("cxx host 100000 ${VERSION}\n" ${WORK_DIR}/subdirectory/cxx_host)
endif()
message(STATUS "consumers of the installed library built and ran")
