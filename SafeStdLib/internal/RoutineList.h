// RoutineList.h: the one list of the exported routines, a line each.
//
// Private to the project; never installed. The symbol check compares the
// built library's zuvo_ symbols with it exactly, and the tests, the hosts,
// the benchmarks and the docs check read it instead of naming the routines
// again: a routine added here and not there fails a check that says so.
//
// An X-macro list, valid C99 and C++11, and plain text to the CMake and
// Python parsers (cmake/SafeStdLibRoutines.cmake, tests/routine_list.py),
// which read every line that opens with SAFESTDLIB_ROUTINE( and split its
// arguments at the commas. An includer defines
//
//   SAFESTDLIB_ROUTINE(name, linkage, kind, checked)
//
// includes this file (as often as it needs), and undefines the macro
// again. The columns:
//   name     the exported name; a v-form is a row of its own.
//   linkage  C, or CXX for a mangled C++ symbol (the capped printer's).
//   kind     PRINTER (to a stream), BUFFER_PRINTER (into a caller's
//            buffer), TIME_FORMAT (strftime), TEXT_COPY (a text the C
//            library keeps, copied out), STRUCT_COPY (a struct tm, copied
//            out), LIMIT (the capped printer's limit).
//   checked  which entries the library exports too, for hosts built with
//            _FORTIFY_SOURCE:
//              CHECKED                     name_chk, the size checked
//              FORMAT_CHECKED              name_fchk, which takes glibc's
//                                          flag and checks the format as
//                                          glibc's printers do
//              CHECKED_AND_FORMAT_CHECKED  both
//              PLAIN                       neither
// Columns are only ever appended. A further kind of row (an entry exported
// on some targets only, say) gets a macro of its own, defined empty here
// for an includer that does not define it.
#ifndef SAFESTDLIB_ROUTINE
#  error "define SAFESTDLIB_ROUTINE(name, linkage, kind, checked) before including RoutineList.h"
#endif

// clang-format off
SAFESTDLIB_ROUTINE(zuvo_maxprintf, CXX, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_vmaxprintf, CXX, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_getmaxprintfcharsinK, CXX, LIMIT, PLAIN)
SAFESTDLIB_ROUTINE(zuvo_setmaxprintfcharsinK, CXX, LIMIT, PLAIN)
SAFESTDLIB_ROUTINE(zuvo_printf, C, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_vprintf, C, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_fprintf, C, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_vfprintf, C, PRINTER, FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_sprintf, C, BUFFER_PRINTER, CHECKED_AND_FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_vsprintf, C, BUFFER_PRINTER, CHECKED_AND_FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_snprintf, C, BUFFER_PRINTER, CHECKED_AND_FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_vsnprintf, C, BUFFER_PRINTER, CHECKED_AND_FORMAT_CHECKED)
SAFESTDLIB_ROUTINE(zuvo_strftime, C, TIME_FORMAT, CHECKED)
SAFESTDLIB_ROUTINE(zuvo_strerror, C, TEXT_COPY, CHECKED)
SAFESTDLIB_ROUTINE(zuvo_ctime, C, TEXT_COPY, CHECKED)
SAFESTDLIB_ROUTINE(zuvo_asctime, C, TEXT_COPY, CHECKED)
SAFESTDLIB_ROUTINE(zuvo_gmtime, C, STRUCT_COPY, PLAIN)
SAFESTDLIB_ROUTINE(zuvo_localtime, C, STRUCT_COPY, PLAIN)
// clang-format on

// The time routines' entries for a 64-bit time_t, exported only where the
// target's time_t is 32 bits and the C library converts 64-bit times too
// (glibc 2.34 on: SAFESTDLIB_TIME64_ENTRIES in SafeStdLib.h). Hosts never
// name them: SafeStdLib.h routes a host built with _TIME_BITS=64 to them
// under the plain names.
#ifndef SAFESTDLIB_ROUTINE_TIME64
#  define SAFESTDLIB_ROUTINE_TIME64(name, linkage, kind, checked)
#  define SAFESTDLIB_ROUTINE_TIME64_DEFAULTED
#endif
// clang-format off
SAFESTDLIB_ROUTINE_TIME64(zuvo_ctime64, C, TEXT_COPY, CHECKED)
SAFESTDLIB_ROUTINE_TIME64(zuvo_gmtime64, C, STRUCT_COPY, PLAIN)
SAFESTDLIB_ROUTINE_TIME64(zuvo_localtime64, C, STRUCT_COPY, PLAIN)
// clang-format on
#ifdef SAFESTDLIB_ROUTINE_TIME64_DEFAULTED
#  undef SAFESTDLIB_ROUTINE_TIME64
#  undef SAFESTDLIB_ROUTINE_TIME64_DEFAULTED
#endif
