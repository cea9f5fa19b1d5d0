# Checks the exported symbols of the built library. Its zuvo_ symbols are
# exactly those of the one list of the routines (RoutineList.h): each row's
# name, <name>_chk where its size is checked and <name>_fchk where its
# format is (the checked column); a C row's unmangled, a CXX row's
# mangled, which is compared by its demangled name up to the parenthesis
# (the va_list is spelled differently on each target). A missing symbol
# fails, and so does one that the list does not name. The rows for a 64-bit
# time (SAFESTDLIB_ROUTINE_TIME64) are expected exactly where TIME64 says the
# target has them, and fail as unlisted anywhere else. Then the process-wide
# state must be bound unique, and no module-private helper visible.
#   cmake -DNM=<nm> -DLIBRARY=<file> -DSHARED=<ON|OFF> -DPROCESS_SYMBOLS=<a|b|c>
#         [-DTIME64=<ON|OFF>] -P CheckSymbols.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/SafeStdLibRoutines.cmake)

if(SHARED)
  set(nm_args -D --defined-only)
else()
  set(nm_args --defined-only --extern-only)
endif()
execute_process(COMMAND ${NM} ${nm_args} ${LIBRARY}
  OUTPUT_VARIABLE raw RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
execute_process(COMMAND ${NM} ${nm_args} -C ${LIBRARY} OUTPUT_VARIABLE demangled)

safestdlib_routines(c_rows LINKAGE C)
safestdlib_routines(cxx_rows LINKAGE CXX)
safestdlib_routines(checked_rows CHECKED)
list(TRANSFORM checked_rows APPEND _chk OUTPUT_VARIABLE checked_entries)
# The format-checked entries keep their routine's linkage.
safestdlib_routines(format_checked_c LINKAGE C FORMAT_CHECKED)
safestdlib_routines(format_checked_cxx LINKAGE CXX FORMAT_CHECKED)
list(TRANSFORM format_checked_c APPEND _fchk)
list(TRANSFORM format_checked_cxx APPEND _fchk)
list(APPEND checked_entries ${format_checked_c})
list(APPEND cxx_rows ${format_checked_cxx})
set(expected ${c_rows} ${cxx_rows} ${checked_entries})
if(TIME64)
  safestdlib_routines(time64_rows TIME64)
  safestdlib_routines(time64_checked TIME64 CHECKED)
  list(TRANSFORM time64_checked APPEND _chk)
  list(APPEND c_rows ${time64_rows})
  list(APPEND checked_entries ${time64_checked})
  list(APPEND expected ${time64_rows} ${time64_checked})
endif()

# Every defined zuvo_ symbol, by its name up to a parenthesis.
string(REGEX MATCHALL "[ \t][A-Za-z] zuvo_[A-Za-z0-9_]*" found "${demangled}")
list(TRANSFORM found REPLACE "^[ \t][A-Za-z] " "")

set(faults "")
foreach(name IN LISTS expected)
  list(FIND found ${name} at)
  if(at EQUAL -1)
    list(APPEND faults "${name}: listed, not exported")
  endif()
endforeach()
foreach(name IN LISTS found)
  list(FIND expected ${name} at)
  if(at EQUAL -1)
    list(APPEND faults "${name}: exported, not in the list")
  endif()
endforeach()
# One symbol a name: a second overload of a CXX row is not in the list.
set(names ${found})
list(REMOVE_DUPLICATES names)
foreach(name IN LISTS names)
  set(copies ${found})
  list(FILTER copies INCLUDE REGEX "^${name}$")
  list(LENGTH copies count)
  if(count GREATER 1)
    list(APPEND faults "${name}: exported ${count} times")
  endif()
endforeach()
# The linkage: a C row and its checked entry unmangled, a CXX row mangled.
foreach(name IN LISTS c_rows checked_entries)
  list(FIND found ${name} at)
  if(NOT at EQUAL -1 AND NOT raw MATCHES "[ \t][A-Za-z] ${name}\n")
    list(APPEND faults "${name}: listed with C linkage, exported mangled")
  endif()
endforeach()
foreach(name IN LISTS cxx_rows)
  if(raw MATCHES "[ \t][A-Za-z] ${name}\n")
    list(APPEND faults "${name}: listed CXX, exported with C linkage")
  endif()
endforeach()

# The process-wide state, with STB_GNU_UNIQUE binding ("u"), so that every
# copy of the library in a process shares it.
string(REPLACE "|" ";" PROCESS_SYMBOLS "${PROCESS_SYMBOLS}")
if(NOT PROCESS_SYMBOLS)
  list(APPEND faults "the process-wide symbols' names were not given")
endif()
foreach(sym IN LISTS PROCESS_SYMBOLS)
  if(NOT raw MATCHES "[ \t]u ${sym}\n")
    list(APPEND faults "${sym}: not exported unique")
  endif()
endforeach()

foreach(private CopyText CopyTime IsUsable CheckFits BufferOverflowDetected FormatCheckFailed
        LiesInReadOnlyMemory NamesEveryArgument sTotalChars
        sMaxTotalCharsInK sMaxFileSizeReached)
  if(raw MATCHES "[ \t][A-Z] [^\n]*${private}")
    list(APPEND faults "${private}: visible outside the library")
  endif()
endforeach()

if(faults)
  list(JOIN faults "\n  " faults)
  message(FATAL_ERROR "exported symbols of ${LIBRARY}:\n  ${faults}")
endif()
list(LENGTH expected count)
message(STATUS "exported symbols of ${LIBRARY}: the list's ${count} zuvo_ symbols, no other")
