# Runs one test program and checks how it ended and what it printed, for
# safestdlib_expect_test(). A program still running after 30 s is killed,
# so a hang fails the test.
#   cmake -DCOMMAND=<program>|<arg>... [-DEMULATOR=<words>|...]
#         [-DSTDOUT=<regex>] [-DSTDERR=<regex>] [-DROUNDS=ON] -P Expect.cmake
# It must exit 0. In the regexes \n stands for a line end; standard error
# must be empty unless STDERR says otherwise. ROUNDS: standard output is
# exactly "round 0 begins", "round 0 ends", "round 1 begins", ... one line
# each, so a line cut short, interleaved or written twice fails.
cmake_minimum_required(VERSION 3.18)
string(REPLACE "|" ";" command "${COMMAND}")
string(REPLACE "|" ";" emulator "${EMULATOR}")
execute_process(COMMAND ${emulator} ${command} TIMEOUT 30
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)

set(problems "")
if(NOT rc STREQUAL "0")
  string(APPEND problems "ended with: ${rc}\n")
endif()
if(NOT DEFINED STDERR)
  set(STDERR "^$")
endif()
set(text_STDOUT "${out}")
set(text_STDERR "${err}")
foreach(stream STDOUT STDERR)
  string(REPLACE "\\n" "\n" pattern "${${stream}}")
  if(NOT text_${stream} MATCHES "${pattern}")
    string(APPEND problems "${stream} does not match '${${stream}}'\n")
  endif()
endforeach()
if(ROUNDS)
  set(expected "")
  string(REGEX MATCHALL "\n" ends "${out}")
  list(LENGTH ends lines)
  math(EXPR last "${lines} / 2 - 1")
  if(last GREATER_EQUAL 0)
    foreach(round RANGE ${last})
      string(APPEND expected "round ${round} begins\nround ${round} ends\n")
    endforeach()
  endif()
  if(expected STREQUAL "" OR NOT out STREQUAL expected)
    string(APPEND problems "standard output is not whole rounds, each printed once\n")
  endif()
endif()
if(problems)
  message(FATAL_ERROR "${COMMAND}\n${problems}--- standard output:\n${out}\n--- standard error:\n${err}")
endif()
