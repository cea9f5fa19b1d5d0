# Checks which entry each fortify test call reaches, from the symbols its
# object file leaves undefined, for every C routine of the list
# (SafeStdLib/internal/RoutineList.h) that has a checked entry:
#   FortifyC.o (its cases: buffers of known size, sizes too big or read at
#     run time) calls the _chk entry of each routine that has one, and, from
#     level 2 on against glibc, the _fchk entry of each that has one instead;
#   FortifyPlainCalls.o (sizes that fit, buffers of unknown size) calls the
#     plain routines, but the printers' _fchk entries from level 2 on against
#     glibc;
#   both, built without _FORTIFY_SOURCE, call the plain routines only.
#   cmake -DNM=<nm> -DLIST=<RoutineList.h> -DGLIBC=<0|1> -DLEVEL1=<a.o|b.o>
#         -DLEVEL2=... -DLEVEL3=... -DUNFORTIFIED=<a.o|b.o> -P CheckFortifyCalls.cmake

# The list's rows: name, linkage, kind, checked (later columns ignored).
file(STRINGS ${LIST} rows REGEX "^SAFESTDLIB_ROUTINE\\(")
set(routines "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^SAFESTDLIB_ROUTINE\\(([^)]*)\\).*$" "\\1" row "${row}")
  string(REPLACE "," ";" row "${row}")
  list(TRANSFORM row STRIP)
  list(GET row 0 name)
  list(GET row 1 linkage)
  list(GET row 3 checked)
  if(linkage STREQUAL "C" AND NOT checked STREQUAL "PLAIN")
    list(APPEND routines "${name}:${checked}")
  endif()
endforeach()
if(NOT routines)
  message(FATAL_ERROR "no C routine with a checked entry in ${LIST}")
endif()
# The routines with entries for a 64-bit time as well (zuvo_ctime64): an
# object built with _TIME_BITS=64 on a 32-bit target calls those instead.
file(STRINGS ${LIST} time64_rows REGEX "^SAFESTDLIB_ROUTINE_TIME64\\(")
set(time64 "")
foreach(row IN LISTS time64_rows)
  string(REGEX REPLACE "^SAFESTDLIB_ROUTINE_TIME64\\(([^,]*)64,.*$" "\\1" name "${row}")
  list(APPEND time64 ${name})
endforeach()

set(problems "")
# expect(<object> <routine> <wanted suffix> <unwanted suffixes>...): "-" is
# the plain routine.
function(expect object raw routine wanted)
  list(FIND time64 ${routine} wide)
  foreach(suffix IN ITEMS ${wanted} ${ARGN})
    string(REPLACE "-" "" symbol "${routine}${suffix}")
    string(REPLACE "-" "" wide_symbol "${routine}64${suffix}")
    set(has OFF)
    if(raw MATCHES "[ \t]U ${symbol}\n" OR
       (NOT wide EQUAL -1 AND raw MATCHES "[ \t]U ${wide_symbol}\n"))
      set(has ON)
    endif()
    if(suffix STREQUAL wanted AND NOT has)
      string(APPEND problems "${object} does not call ${symbol}\n")
    elseif(NOT suffix STREQUAL wanted AND has)
      string(APPEND problems "${object} calls ${symbol}\n")
    endif()
  endforeach()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

# check(<object> <level>): 0 for a build without _FORTIFY_SOURCE.
function(check object level)
  execute_process(COMMAND ${NM} --undefined-only ${object} OUTPUT_VARIABLE raw RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  set(formats OFF)
  if(GLIBC AND level GREATER_EQUAL 2)
    set(formats ON)
  endif()
  set(cases OFF)
  if(object MATCHES "FortifyC\\.c\\.o(bj)?$")
    set(cases ON)
  endif()
  foreach(routine IN LISTS routines)
    string(REPLACE ":" ";" routine "${routine}")
    list(GET routine 0 name)
    list(GET routine 1 checked)
    if(level EQUAL 0)
      expect(${object} "${raw}" ${name} - _chk _fchk)
    elseif(formats AND checked MATCHES "FORMAT_CHECKED$")
      expect(${object} "${raw}" ${name} _fchk - _chk)
    elseif(checked STREQUAL "FORMAT_CHECKED")
      expect(${object} "${raw}" ${name} - _fchk)
    elseif(NOT cases)
      expect(${object} "${raw}" ${name} - _chk _fchk)
    elseif(checked STREQUAL "CHECKED")
      expect(${object} "${raw}" ${name} _chk - _fchk)
    else()
      # Its format case prints into a buffer that is big enough, through
      # the plain routine.
      expect(${object} "${raw}" ${name} _chk _fchk)
    endif()
  endforeach()
  set(problems "${problems}" PARENT_SCOPE)
endfunction()

set(seen 0)
foreach(level 1 2 3 0)
  if(level EQUAL 0)
    set(objects "${UNFORTIFIED}")
  else()
    set(objects "${LEVEL${level}}")
  endif()
  string(REPLACE "|" ";" objects "${objects}")
  foreach(object IN LISTS objects)
    if(object MATCHES "Fortify(C|PlainCalls)\\.c\\.o(bj)?$")
      check(${object} ${level})
      math(EXPR seen "${seen} + 1")
    endif()
  endforeach()
endforeach()
if(NOT seen EQUAL 8)
  string(APPEND problems "expected 8 objects, read ${seen}\n")
endif()
if(problems)
  message(FATAL_ERROR "${problems}")
endif()
list(LENGTH routines count)
message(STATUS "every fortify test call of the ${count} routines with checked entries reaches the entry it should")
