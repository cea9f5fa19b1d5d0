# Helpers for the scripts that build hosts against an installed SafeStdLib.
# The caller sets CC and CXX, and for check_consumers also GENERATOR and
# VERSION (the project's version). A cross build also sets TOOLCHAIN (its
# toolchain file) and EMULATOR (the command that runs its programs, words
# separated by '|').

# run(<command>...): runs a command, fails the script if it fails, and
# leaves its standard output in last_output, its standard error in
# last_error.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
  set(last_error "${err}" PARENT_SCOPE)
endfunction()

# expect_output(<expected> <command>...): runs a command and compares what
# it printed.
function(expect_output expected)
  run(${emulator} ${ARGN})
  if(NOT last_output STREQUAL expected)
    message(FATAL_ERROR "${ARGN} printed '${last_output}', not '${expected}'")
  endif()
endfunction()

set(consumer_dir ${CMAKE_CURRENT_LIST_DIR})
set(tools -G ${GENERATOR} -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX})
if(MAKE_PROGRAM)
  list(APPEND tools -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
if(TOOLCHAIN)
  list(APPEND tools -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
if(NOT OBJDUMP)
  set(OBJDUMP objdump)
endif()

# check_consumers(<prefix> <libdir> <work>): builds and runs, against the
# library installed in <prefix> (libraries in <prefix>/<libdir>):
# - a C and C++ project with find_package (C++ host with <SafeStdLib/...>
#   includes and the version macros, C host with the bare names);
# - a server and two plugins loaded with RTLD_LOCAL, all holding the
#   library, sharing one mutex;
# - a C-only project with find_package;
# - the same hosts, server and plugins with pkg-config and nothing but the
#   compiler: with plain `pkg-config --libs safestdlib`, with --static, and
#   with safestdlib-static where the static library is installed.
function(check_consumers prefix libdir work)
  set(cxx_expected "cxx host 100000 ${VERSION}\n")
  set(plugins_expected "x\nReached maximum configured output limit = 0K\n\none mutex\n")
  # A cross build searches only under its roots; the prefix is one.
  set(find -DCMAKE_PREFIX_PATH=${prefix})
  if(TOOLCHAIN)
    list(APPEND find -DCMAKE_FIND_ROOT_PATH=${prefix})
  endif()
  run(${CMAKE_COMMAND} -S ${consumer_dir} -B ${work}/consumer ${tools} ${find})
  run(${CMAKE_COMMAND} --build ${work}/consumer)
  set(ENV{LD_LIBRARY_PATH} ${prefix}/${libdir})
  expect_output("${cxx_expected}" ${work}/consumer/cxx_host)
  expect_output("c host\n" ${work}/consumer/c_host)
  expect_output("${plugins_expected}" ${work}/consumer/plugin_host
                ${work}/consumer/plugin_a.so ${work}/consumer/plugin_b.so)

  run(${CMAKE_COMMAND} -S ${consumer_dir}/c-only -B ${work}/c-only ${tools} ${find})
  run(${CMAKE_COMMAND} --build ${work}/c-only)
  expect_output("c host\n" ${work}/c-only/c_host)

  find_program(PKG_CONFIG NAMES pkg-config pkgconf)
  if(NOT PKG_CONFIG)
    message(STATUS "pkg-config not found: pkg-config hosts not tried")
    return()
  endif()
  set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
  # Plain pkg-config gives the shared library where it is installed, else
  # the static one with everything a C or C++ host needs to link it.
  if(EXISTS ${prefix}/${libdir}/libsafestdlib.so)
    set(kind shared)
  else()
    set(kind static)
  endif()
  pkg_config_hosts(${work}/pkgconfig ${kind} safestdlib)
  pkg_config_hosts(${work}/pkgconfig-static ${kind} --static safestdlib)
  # safestdlib-static names the static library, wherever it is installed.
  if(EXISTS ${prefix}/${libdir}/libsafestdlib.a)
    pkg_config_hosts(${work}/pkgconfig-archive static safestdlib-static)
  endif()
endfunction()

# pkg_config_hosts(<work> static|shared <pkg-config arguments>...): builds,
# with the compiler and the flags that pkg-config gives and nothing else, a
# C host, a C++ host, and a server with two plugins, all holding the library
# of that kind; runs them (check_consumers' expected output).
function(pkg_config_hosts work kind)
  run(${PKG_CONFIG} --cflags --libs ${ARGN})
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(MAKE_DIRECTORY ${work})
  run(${CC} ${consumer_dir}/host.c ${flags} -o ${work}/c_host)
  expect_output("c host\n" ${work}/c_host)
  run(${CXX} ${consumer_dir}/host.cpp ${flags} -o ${work}/cxx_host)
  expect_output("${cxx_expected}" ${work}/cxx_host)
  foreach(plugin plugin_a plugin_b)
    run(${CXX} -shared -fPIC ${consumer_dir}/plugin.cpp ${flags} -o ${work}/${plugin}.so)
  endforeach()
  run(${CXX} ${consumer_dir}/plugin_host.cpp ${flags} -ldl -o ${work}/plugin_host)
  expect_output("${plugins_expected}" ${work}/plugin_host ${work}/plugin_a.so ${work}/plugin_b.so)
  foreach(host c_host cxx_host plugin_host)
    run(${OBJDUMP} -p ${work}/${host})
    if(kind STREQUAL "shared" AND NOT last_output MATCHES "NEEDED +libsafestdlib\\.so")
      message(FATAL_ERROR "pkg-config ${ARGN}: ${host} does not use the shared library")
    elseif(kind STREQUAL "static" AND last_output MATCHES "NEEDED +libsafestdlib")
      message(FATAL_ERROR "pkg-config ${ARGN}: ${host} uses the shared library")
    endif()
  endforeach()
endfunction()
