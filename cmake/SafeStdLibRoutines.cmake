# The one list of the exported routines, SafeStdLib/internal/RoutineList.h,
# read by CMake: the only CMake code that parses it.
#
# safestdlib_routines(<out> [TIME64] [LINKAGE C|CXX] [KIND <kind>...]
#                     [CHECKED|FORMAT_CHECKED|PLAIN] [LIST <file>])
#   sets <out> to the names of the rows that match every filter given, in the
#   list's order. A row is a line that opens with SAFESTDLIB_ROUTINE( (with
#   TIME64, SAFESTDLIB_ROUTINE_TIME64(: the entries for a 64-bit time) and
#   holds at least the four columns name, linkage, kind, checked; columns
#   after them, and rows of other macros, are left alone. CHECKED keeps the
#   rows that export name_chk (CHECKED, CHECKED_AND_FORMAT_CHECKED),
#   FORMAT_CHECKED those that export name_fchk (FORMAT_CHECKED,
#   CHECKED_AND_FORMAT_CHECKED), PLAIN those that export neither.
set(SAFESTDLIB_ROUTINE_LIST ${CMAKE_CURRENT_LIST_DIR}/../SafeStdLib/internal/RoutineList.h)
get_filename_component(SAFESTDLIB_ROUTINE_LIST ${SAFESTDLIB_ROUTINE_LIST} ABSOLUTE)

function(safestdlib_routines out)
  cmake_parse_arguments(arg "CHECKED;FORMAT_CHECKED;PLAIN;TIME64" "LINKAGE;LIST" "KIND" ${ARGN})
  set(macro SAFESTDLIB_ROUTINE)
  if(arg_TIME64)
    set(macro SAFESTDLIB_ROUTINE_TIME64)
  endif()
  if(NOT arg_LIST)
    set(arg_LIST ${SAFESTDLIB_ROUTINE_LIST})
  endif()
  file(STRINGS ${arg_LIST} rows REGEX "^${macro}\\(")
  if(NOT rows)
    message(FATAL_ERROR "no ${macro} rows in ${arg_LIST}")
  endif()
  set(names "")
  foreach(row IN LISTS rows)
    if(NOT row MATCHES "^${macro}\\(([^)]*)\\)")
      message(FATAL_ERROR "${arg_LIST}: a row that does not close on its line: ${row}")
    endif()
    string(REGEX REPLACE "[ \t]" "" columns "${CMAKE_MATCH_1}")
    string(REPLACE "," ";" columns "${columns}")
    list(LENGTH columns count)
    if(count LESS 4)
      message(FATAL_ERROR "${arg_LIST}: a row with fewer than four columns: ${row}")
    endif()
    list(GET columns 0 name)
    list(GET columns 1 linkage)
    list(GET columns 2 kind)
    list(GET columns 3 checked)
    if(NOT linkage MATCHES "^(C|CXX)$" OR
       NOT checked MATCHES "^(CHECKED|FORMAT_CHECKED|CHECKED_AND_FORMAT_CHECKED|PLAIN)$")
      message(FATAL_ERROR "${arg_LIST}: linkage C or CXX, then CHECKED, FORMAT_CHECKED, "
        "CHECKED_AND_FORMAT_CHECKED or PLAIN: ${row}")
    endif()
    if(arg_LINKAGE AND NOT linkage STREQUAL arg_LINKAGE)
      continue()
    endif()
    # list(FIND), not IN_LIST: a script run with -P has no policies set.
    list(FIND arg_KIND ${kind} at)
    if(arg_KIND AND at EQUAL -1)
      continue()
    endif()
    if((arg_CHECKED AND NOT checked MATCHES "^(CHECKED|CHECKED_AND_FORMAT_CHECKED)$") OR
       (arg_FORMAT_CHECKED AND NOT checked MATCHES "FORMAT_CHECKED$") OR
       (arg_PLAIN AND NOT checked STREQUAL "PLAIN"))
      continue()
    endif()
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()
