# The library built with link-time optimisation
# (CMAKE_INTERPROCEDURAL_OPTIMIZATION), and with Debian's hardening flags
# (dpkg-buildflags), static and shared, installed, and the
# consumer project's server and two plugins built against it with -flto:
# they must link and share one mutex and one capped printer. A compiler that
# is not there, or that has no archiver for its bitcode, is skipped.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... -DCXX=... -DGENERATOR=...
#         [-DMAKE_PROGRAM=...] -P CheckLto.cmake
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
find_program(found_cc ${CC})
find_program(found_cxx ${CXX})
if(NOT found_cc OR NOT found_cxx)
  message(STATUS "${CC} or ${CXX} not found: skipped")
  return()
endif()
include(${SOURCE_DIR}/tests/consumer/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
# Debian's hardening flags, as a package build passes them, where
# dpkg-buildflags is there.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
set(variants lto)
if(DPKG_BUILDFLAGS)
  list(APPEND variants hardened)
  foreach(flags CFLAGS CXXFLAGS LDFLAGS CPPFLAGS)
    execute_process(COMMAND ${DPKG_BUILDFLAGS} --get ${flags} OUTPUT_VARIABLE ${flags}
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  set(hardened -DCMAKE_BUILD_TYPE=None "-DCMAKE_C_FLAGS=${CFLAGS} ${CPPFLAGS}"
      "-DCMAKE_CXX_FLAGS=${CXXFLAGS} ${CPPFLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LDFLAGS}"
      "-DCMAKE_SHARED_LINKER_FLAGS=${LDFLAGS}" "-DCMAKE_MODULE_LINKER_FLAGS=${LDFLAGS}")
endif()
set(lto -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON -DCMAKE_BUILD_TYPE=Release)
foreach(item IN ITEMS lto:OFF lto:ON hardened:OFF hardened:ON)
  string(REPLACE ":" ";" variant ${item})
  list(GET variant 1 shared)
  list(GET variant 0 variant)
  if(NOT variant IN_LIST variants)
    continue()
  endif()
  set(flags ${${variant}})
  set(dir ${WORK_DIR}/${variant}-shared-${shared})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${dir}/library ${tools} ${flags} -DBUILD_SHARED_LIBS=${shared}
      -DSAFESTDLIB_INSTALL=ON -DBUILD_TESTING=OFF -DSAFESTDLIB_BUILD_EXAMPLES=OFF
      -DSAFESTDLIB_BUILD_BENCH=OFF -DCMAKE_INSTALL_LIBDIR=lib)
  # clang's archiver for bitcode comes with LLVM's tools, not with clang.
  file(STRINGS ${dir}/library/CMakeCache.txt archiver REGEX "^CMAKE_CXX_COMPILER_AR:")
  if(archiver MATCHES "NOTFOUND")
    message(STATUS "${CXX}'s archiver for link-time optimisation not found: skipped")
    return()
  endif()
  run(${CMAKE_COMMAND} --build ${dir}/library)
  run(${CMAKE_COMMAND} --install ${dir}/library --prefix ${dir}/prefix)
  run(${CMAKE_COMMAND} -S ${consumer_dir} -B ${dir}/consumer ${tools} ${flags}
      -DCMAKE_PREFIX_PATH=${dir}/prefix)
  run(${CMAKE_COMMAND} --build ${dir}/consumer --target plugin_host plugin_a plugin_b)
  set(ENV{LD_LIBRARY_PATH} ${dir}/prefix/lib)
  expect_output("x\nReached maximum configured output limit = 0K\n\none mutex\n"
                ${dir}/consumer/plugin_host ${dir}/consumer/plugin_a.so ${dir}/consumer/plugin_b.so)
endforeach()
message(STATUS "built ${variants}, static and shared: one mutex")
