# Builds loader.c as a fully static executable when the test runs (the
# linker warns about dlopen in a static program, which a build must not
# show) and has it load a plugin with a copy of the library: the plugin has
# a C library and a mutex of its own, and must say so once.
#   cmake -DCC=<compiler> -DLOADER=<loader.c> -DPLUGIN=<plugin.so>
#         -DWORK_DIR=<dir> -P CheckStaticLoader.cmake
cmake_minimum_required(VERSION 3.18)
# Before 2.34 glibc's libpthread is a library of its own, which a static
# program cannot load: any plugin that links it crashes there, with or
# without the library.
execute_process(COMMAND getconf GNU_LIBC_VERSION OUTPUT_VARIABLE libc
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(libc MATCHES "^glibc ([0-9.]+)$" AND CMAKE_MATCH_1 VERSION_LESS 2.34)
  message(STATUS "${libc} cannot load a threaded plugin into a static program: skipped")
  return()
endif()
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${CC} -static -o ${WORK_DIR}/static_loader ${LOADER} -pthread -ldl
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(STATUS "no static C library to link with: skipped\n${err}")
  return()
endif()
execute_process(COMMAND ${WORK_DIR}/static_loader unload ${PLUGIN} TIMEOUT 30
  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
set(said "^SafeStdLib: [^\n]*plugin_a[^\n]* is loaded into a fully static executable: it keeps a standard-library mutex of its own, apart from the executable's: a child that the process forks while a thread calls through it may wait for ever in its first call there\n$")
if(NOT rc STREQUAL "0" OR NOT err MATCHES "${said}")
  message(FATAL_ERROR "the static loader ended with ${rc}\n--- standard output:\n${out}\n--- standard error:\n${err}")
endif()
