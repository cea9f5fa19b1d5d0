# Runs the demo as the README does and checks what a user sees: the notice
# exactly once, a consistent summary, the workers' lines interleaved, exit 0;
# and exit 2 on a bad flag.
#   cmake -DDEMO=<safestdlib-demo> [-DRUNNER=<emulator>] -P CheckDemo.cmake

# check_workers(<output> <threads> <printed>): each worker's count in the
# summary is the number of request lines it printed, and the counts add up
# to <printed>; and the workers' lines interleave: the log passes from one
# worker's line to another's at least 2 * threads times. Workers that print
# one after another pass threads - 1 times; the demo's workers start
# together and pause between lines, so they pass about once a line, and a
# machine busy enough to hold some back for milliseconds still leaves
# dozens.
function(check_workers out threads printed)
  string(FIND "${out}" "\nsummary: " end)
  string(SUBSTRING "${out}" 0 ${end} log)
  set(sum 0)
  math(EXPR last "${threads} - 1")
  foreach(t RANGE ${last})
    string(REGEX MATCHALL "worker ${t} request" lines "${log}")
    list(LENGTH lines seen)
    if(NOT out MATCHES "\n  worker ${t} printed ${seen}\n")
      message(FATAL_ERROR "worker ${t} printed ${seen} lines; the summary says otherwise:\n${out}")
    endif()
    math(EXPR sum "${sum} + ${seen}")
  endforeach()
  if(NOT sum EQUAL printed)
    message(FATAL_ERROR "the workers printed ${sum} lines in all, the summary says ${printed}")
  endif()
  string(REGEX MATCHALL "worker [0-9]+ request" order "${log}")
  set(passes 0)
  set(previous "")
  foreach(line IN LISTS order)
    if(NOT line STREQUAL previous)
      math(EXPR passes "${passes} + 1")
    endif()
    set(previous "${line}")
  endforeach()
  math(EXPR passes "${passes} - 1")
  math(EXPR least "2 * ${threads}")
  if(passes LESS least)
    message(FATAL_ERROR "the log passes between workers ${passes} times, fewer than ${least}:\n${log}")
  endif()
endfunction()

execute_process(COMMAND ${RUNNER} ${DEMO} --threads 4 --lines 2000 --limit-k 8
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "demo exited with ${rc}")
endif()
set(notice "\nReached maximum configured output limit = 8K\n")
string(FIND "${out}" "${notice}" first)
string(FIND "${out}" "${notice}" last REVERSE)
if(first EQUAL -1 OR NOT first EQUAL last)
  message(FATAL_ERROR "the notice must appear exactly once:\n${out}")
endif()
string(REGEX MATCH "lines attempted +([0-9]+)" _ "${out}")
set(attempted ${CMAKE_MATCH_1})
string(REGEX MATCH "lines printed +([0-9]+)" _ "${out}")
set(printed ${CMAKE_MATCH_1})
string(REGEX MATCH "lines refused +([0-9]+)" _ "${out}")
set(refused ${CMAKE_MATCH_1})
string(REGEX MATCH "characters counted +([0-9]+)" _ "${out}")
set(characters ${CMAKE_MATCH_1})
if(NOT out MATCHES "lock waits +[0-9]+ \\([0-9]+ asleep\\), [0-9.]+ ms in all, longest [0-9.]+ ms\n")
  message(FATAL_ERROR "no contention figures in the summary:\n${out}")
endif()
math(EXPR sum "${printed} + ${refused}")
if(NOT attempted EQUAL 8000 OR NOT sum EQUAL attempted OR characters LESS_EQUAL 8192)
  message(FATAL_ERROR "inconsistent summary:\n${out}")
endif()
# The request lines before the notice are exactly the counted characters.
string(SUBSTRING "${out}" 0 ${first} log)
string(LENGTH "${log}" logLength)
if(NOT logLength EQUAL characters)
  message(FATAL_ERROR "printed ${logLength} characters but counted ${characters}")
endif()
check_workers("${out}" 4 ${printed})

# Without a limit every line prints, and short runs interleave too.
execute_process(COMMAND ${RUNNER} ${DEMO} --threads 3 --lines 50
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out MATCHES "lines printed +150\n")
  message(FATAL_ERROR "--lines 50 gave exit ${rc} and:\n${out}")
endif()
check_workers("${out}" 3 150)

foreach(bad "--threads;0" "--lines;-3" "--limit-k;12x" "--bogus" "--threads")
  execute_process(COMMAND ${RUNNER} ${DEMO} ${bad} OUTPUT_VARIABLE o ERROR_VARIABLE e RESULT_VARIABLE rc)
  if(NOT rc EQUAL 2 OR NOT e MATCHES "usage: safestdlib-demo")
    message(FATAL_ERROR "'${bad}' gave exit ${rc} and:\n${e}")
  endif()
endforeach()
execute_process(COMMAND ${RUNNER} ${DEMO} --help OUTPUT_VARIABLE o RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT o MATCHES "usage: safestdlib-demo")
  message(FATAL_ERROR "--help gave exit ${rc}")
endif()
