# Builds hosts with _FORTIFY_SOURCE at levels 1, 2 and 3, with each compiler
# given, as a user builds them:
#   FortifyHostPatterns.cpp, with each C++ compiler, warnings as errors, is
#     linked with the library and run: it must exit only through the check
#     its last call fails ("buffer overflow detected");
#   FortifyTooBig.c, as C with each C compiler and as C++ with each C++ one,
#     must warn once of each routine's call whose size is known not to fit,
#     and of no other call;
#   a host that includes SafeStdLibFortify.h alone must not build.
#   cmake -DCC=<cc|cc2> -DCXX=<c++|c++2> -DINCLUDES=<a|b> -DDEFINES=<a|b>
#         -DLIBRARY=<file> -DDL_LIBS=<dl> -DSOURCE_DIR=<tests> -DWORK_DIR=<dir>
#         -P CheckFortifyHosts.cmake
# DL_LIBS names the libraries that hold dlopen() and its kin (CMAKE_DL_LIBS;
# libdl before glibc 2.34), which the library needs as its CMake target and
# its pkg-config file say.
cmake_minimum_required(VERSION 3.18)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
string(REPLACE "|" ";" c_compilers "${CC}")
string(REPLACE "|" ";" cxx_compilers "${CXX}")
string(REPLACE "|" ";" includes "${INCLUDES}")
list(TRANSFORM includes PREPEND "-I")
string(REPLACE "|" ";" defines "${DEFINES}")
list(TRANSFORM defines PREPEND "-D")
get_filename_component(library_dir ${LIBRARY} DIRECTORY)
set(library ${LIBRARY})
foreach(lib IN LISTS DL_LIBS)
  list(APPEND library -l${lib})
endforeach()
set(routines zuvo_snprintf zuvo_vsnprintf zuvo_strftime zuvo_strerror zuvo_ctime zuvo_asctime)
set(warning "called with bigger size than length of destination buffer")

# glibc's failures on standard error, not the terminal.
set(ENV{LIBC_FATAL_STDERR_} 1)
set(problems "")
foreach(level 1 2 3)
  set(fortify -O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${level})
  foreach(cxx IN LISTS cxx_compilers)
    get_filename_component(name ${cxx} NAME)
    set(host ${WORK_DIR}/patterns-${name}-${level})
    execute_process(COMMAND ${cxx} -std=c++11 -Wall -Wextra -Wpedantic -Werror ${fortify} ${defines}
                            ${includes} ${SOURCE_DIR}/FortifyHostPatterns.cpp ${library}
                            -Wl,-rpath,${library_dir} -pthread -o ${host}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      string(APPEND problems "${name} level ${level}: the host patterns do not build:\n${out}${err}\n")
      continue()
    endif()
    execute_process(COMMAND ${host}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(rc MATCHES "^[0-9]+$" OR NOT err MATCHES "buffer overflow detected")
      string(APPEND problems "${name} level ${level}: the host patterns ended with ${rc}:\n${out}${err}\n")
    endif()
  endforeach()
  foreach(compiler IN LISTS c_compilers cxx_compilers)
    get_filename_component(name ${compiler} NAME)
    set(language -std=c99)
    if(compiler IN_LIST cxx_compilers)
      set(language -x c++ -std=c++11)
    endif()
    execute_process(COMMAND ${compiler} ${language} -Wall -Wextra ${fortify} ${defines} ${includes}
                            -c ${SOURCE_DIR}/FortifyTooBig.c -o ${WORK_DIR}/toobig-${name}-${level}.o
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    set(out "${out}${err}")
    if(NOT rc EQUAL 0)
      string(APPEND problems "${name} level ${level}: FortifyTooBig.c does not build:\n${out}\n")
      continue()
    endif()
    # One warning for each routine, none for the sizes that fit.
    string(REGEX MATCHALL "warning: [^\n]*zuvo_[a-z]+ ${warning}" warnings "${out}")
    list(LENGTH warnings count)
    list(LENGTH routines expected)
    foreach(routine IN LISTS routines)
      if(NOT warnings MATCHES "[ :]${routine} ${warning}")
        string(APPEND problems "${name} level ${level}: no \"${routine} ${warning}\"\n")
      endif()
    endforeach()
    if(NOT count EQUAL expected)
      string(APPEND problems "${name} level ${level}: ${count} warnings, not ${expected}:\n${out}\n")
    endif()
  endforeach()
endforeach()
# SafeStdLibFortify.h is SafeStdLib.h's: a host that includes it alone is
# told so.
list(GET cxx_compilers 0 cxx)
file(WRITE ${WORK_DIR}/alone.cpp "#include <SafeStdLib/SafeStdLibFortify.h>\n")
execute_process(COMMAND ${cxx} -fsyntax-only ${includes} ${WORK_DIR}/alone.cpp
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "include <SafeStdLib/SafeStdLib.h> instead")
  string(APPEND problems "SafeStdLibFortify.h alone does not refuse:\n${out}${err}\n")
endif()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
list(LENGTH cxx_compilers cxx_count)
list(LENGTH c_compilers c_count)
message(STATUS "fortified hosts build and warn as they should with ${c_count} C and ${cxx_count} C++ compilers")
