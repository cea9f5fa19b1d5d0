# Checks the exported symbols of the built library: the capped-printer
# entries with their mangled C++ names, the ten C entries, their v-forms and
# their checked and format-checked entries unmangled, the
# process-wide state bound unique, and no module-private helper.
#   cmake -DNM=<nm> -DLIBRARY=<file> -DSHARED=<ON|OFF> -DPROCESS_SYMBOLS=<a|b|c>
#         -P CheckSymbols.cmake
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

set(expected_mangled
  "_Z25zuvo_getmaxprintfcharsinKv"
  "_Z25zuvo_setmaxprintfcharsinKj"
  "_Z14zuvo_maxprintfPKcz"
  "_Z19zuvo_maxprintf_fchkiPKcz")
set(expected_demangled
  "zuvo_getmaxprintfcharsinK()"
  "zuvo_setmaxprintfcharsinK(unsigned int)"
  "zuvo_maxprintf(char const*, ...)"
  "zuvo_maxprintf_fchk(int, char const*, ...)")
set(expected_c zuvo_printf zuvo_sprintf zuvo_fprintf zuvo_snprintf zuvo_strftime
  zuvo_strerror zuvo_ctime zuvo_asctime zuvo_gmtime zuvo_localtime
  zuvo_vprintf zuvo_vsprintf zuvo_vfprintf zuvo_vsnprintf
  # The checked entries that hosts built with _FORTIFY_SOURCE call.
  zuvo_sprintf_chk zuvo_vsprintf_chk zuvo_snprintf_chk zuvo_vsnprintf_chk zuvo_strftime_chk
  zuvo_strerror_chk zuvo_ctime_chk zuvo_asctime_chk
  # The format-checked entries that hosts built with _FORTIFY_SOURCE=2 or 3
  # call.
  zuvo_printf_fchk zuvo_vprintf_fchk zuvo_fprintf_fchk zuvo_vfprintf_fchk zuvo_sprintf_fchk
  zuvo_vsprintf_fchk zuvo_snprintf_fchk zuvo_vsnprintf_fchk)

set(missing "")
foreach(sym IN LISTS expected_mangled expected_c)
  if(NOT raw MATCHES "[ \t]T ${sym}\n")
    list(APPEND missing "${sym}")
  endif()
endforeach()
foreach(sym IN LISTS expected_demangled)
  string(FIND "${demangled}" " T ${sym}\n" at)
  if(at EQUAL -1)
    list(APPEND missing "${sym}")
  endif()
endforeach()
# The va_list is spelled differently on each target.
if(NOT demangled MATCHES " T zuvo_vmaxprintf\\(char const\\*, [^\n]+\\)\n")
  list(APPEND missing "zuvo_vmaxprintf(char const*, va_list)")
endif()
if(NOT demangled MATCHES " T zuvo_vmaxprintf_fchk\\(int, char const\\*, [^\n]+\\)\n")
  list(APPEND missing "zuvo_vmaxprintf_fchk(int, char const*, va_list)")
endif()
# The process-wide state, with STB_GNU_UNIQUE binding ("u"), so that every
# copy of the library in a process shares it.
string(REPLACE "|" ";" PROCESS_SYMBOLS "${PROCESS_SYMBOLS}")
if(NOT PROCESS_SYMBOLS)
  list(APPEND missing "the process-wide symbols' names")
endif()
foreach(sym IN LISTS PROCESS_SYMBOLS)
  if(NOT raw MATCHES "[ \t]u ${sym}\n")
    list(APPEND missing "${sym} (unique)")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "missing from ${LIBRARY}: ${missing}")
endif()

foreach(private CopyText CopyTime IsUsable CheckFits BufferOverflowDetected FormatCheckFailed
        LiesInReadOnlyMemory NamesEveryArgument sTotalChars
        sMaxTotalCharsInK sMaxFileSizeReached)
  if(raw MATCHES "[ \t][A-Z] [^\n]*${private}")
    message(FATAL_ERROR "${private} is visible outside ${LIBRARY}")
  endif()
endforeach()
message(STATUS "exported symbols of ${LIBRARY}: as expected")
