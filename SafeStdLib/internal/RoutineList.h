/* RoutineList.h: the one list of the exported routines, one line each:
 *
 *   SAFESTDLIB_ROUTINE(name, linkage, kind, checked)
 *
 * name     the routine's exported name (each v-form is a routine of its own)
 * linkage  C, or CXX for a mangled C++ symbol
 * kind     PRINTER (to a stream), BUFFER_PRINTER, TIME_FORMAT, TEXT_COPY,
 *          STRUCT_COPY or LIMIT
 * checked  which entries the library exports for fortified hosts:
 *          CHECKED                     <name>_chk, the size checked
 *          FORMAT_CHECKED              <name>_fchk, which takes glibc's flag
 *                                      and checks the format as glibc does
 *          CHECKED_AND_FORMAT_CHECKED  both
 *          PLAIN                       neither
 *
 * Define SAFESTDLIB_ROUTINE, then include this file; it may be included
 * more than once. Private: never installed. Plain text to CMake and Python,
 * which read it a line at a time. */
#ifndef SAFESTDLIB_ROUTINE
#  error "define SAFESTDLIB_ROUTINE(name, linkage, kind, checked) before including RoutineList.h"
#endif
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
