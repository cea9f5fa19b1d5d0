# Compiles a C++ host at C++11, C++17 and C++20 and a C host at C99 and C11
# with strict warnings as errors, the include path given by plain -I, so a
# public header that warns fails here. The hosts call every routine of the
# list through tests/RoutineCalls.h, which they and the list reach by
# -iquote: quoted includes only, so no angle-bracket include of a public
# header can land in the source tree.
#   cmake -DCC=... -DCXX=... -DINCLUDE=<dir holding SafeStdLib/> -DSOURCE_DIR=<source tree>
#         -P CheckStrictHeaders.cmake
set(cxx_flags -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Wold-style-cast
  -Wzero-as-null-pointer-constant -Wundef -Wcast-qual -Werror)
set(c_flags -Wall -Wextra -Wpedantic -Wstrict-prototypes -Wundef -Wshadow -Werror)
set(includes -I${INCLUDE} -I${INCLUDE}/SafeStdLib -iquote ${SOURCE_DIR} -iquote ${SOURCE_DIR}/tests)

# Each also as a host built with _FORTIFY_SOURCE, where the checking
# helpers and macros are in play, and each of those with a 64-bit time_t,
# where the time routines' symbols follow it (on a target whose time_t is
# 32 bits by default).
set(fortify_levels none -O2,-U_FORTIFY_SOURCE,-D_FORTIFY_SOURCE=2 -O2,-U_FORTIFY_SOURCE,-D_FORTIFY_SOURCE=3)
set(time_bits none -D_FILE_OFFSET_BITS=64,-D_TIME_BITS=64)

function(compile compiler standard flags source)
  foreach(fortify IN LISTS fortify_levels)
    foreach(bits IN LISTS time_bits)
      string(REPLACE "," ";" options "${fortify},${bits}")
      list(REMOVE_ITEM options none)
      execute_process(COMMAND ${compiler} -std=${standard} ${flags} ${options} ${includes} -fsyntax-only ${source}
        RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
      if(NOT rc EQUAL 0)
        message(SEND_ERROR "${compiler} -std=${standard} ${options}: the headers warn:\n${out}${err}")
      endif()
    endforeach()
  endforeach()
endfunction()

foreach(standard c++11 c++17 c++20)
  compile(${CXX} ${standard} "${cxx_flags}" ${CMAKE_CURRENT_LIST_DIR}/StrictHost.cpp)
endforeach()
foreach(standard c99 c11)
  compile(${CC} ${standard} "${c_flags}" ${CMAKE_CURRENT_LIST_DIR}/StrictHost.c)
endforeach()
