# Test programs of a 32-bit x86 build run natively where the kernel runs
# 32-bit programs, and under qemu-i386 (Debian's qemu-user) where it refuses
# them with "Exec format error", so the suite passes the same way everywhere.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/safestdlib_runs_32bit.c)
  file(WRITE ${probe} "int main(void) { return 0; }\n")
  try_run(runs compiles ${CMAKE_CURRENT_BINARY_DIR}/safestdlib_runs_32bit SOURCES ${probe})
  if(compiles AND NOT runs EQUAL 0)
    find_program(SAFESTDLIB_QEMU_I386 qemu-i386 REQUIRED)
    message(STATUS "32-bit programs do not run here; tests run under ${SAFESTDLIB_QEMU_I386}")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SAFESTDLIB_QEMU_I386})
  endif()
endif()

# The emulator that runs a cross build's programs (or the 32-bit runner
# above), for the tests that start programs of their own: its words
# separated by '|'.
string(REPLACE ";" "|" safestdlib_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")

# safestdlib_expect_test(<name> COMMAND <program> <arg>...
#                        [STDOUT <regex>] [STDERR <regex>] [ROUNDS])
# A test that runs a real program through tests/Expect.cmake: it must exit
# 0 within 30 s (a hang is killed and fails), its standard output must
# match STDOUT, and its standard error must be empty unless STDERR gives a
# regex for it. Unlike a test property's regex, a crash or a failing exit
# status after the expected output still fails.
function(safestdlib_expect_test name)
  cmake_parse_arguments(arg "ROUNDS" "STDOUT;STDERR" "COMMAND" ${ARGN})
  list(JOIN arg_COMMAND "|" command)
  set(expect "-DCOMMAND=${command}" "-DEMULATOR=${safestdlib_emulator}" -DROUNDS=${arg_ROUNDS})
  foreach(stream STDOUT STDERR)
    if(DEFINED arg_${stream})
      list(APPEND expect "-D${stream}=${arg_${stream}}")
    endif()
  endforeach()
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} ${expect} -P ${PROJECT_SOURCE_DIR}/tests/Expect.cmake)
  set_tests_properties(${name} PROPERTIES TIMEOUT 60)
endfunction()
