/* A C host that builds with a strict warning set, with and without
 * _FORTIFY_SOURCE: the public header through both include forms, and every
 * C-linkage routine of the list called as tests/RoutineCalls.h calls it,
 * into a buffer of known size with room known to fit and, for a checked
 * routine, with room read at run time. A row of the list without its calls
 * there does not compile. A POSIX host, as a server's C code is: a bare
 * call beside a routine may be a POSIX one. */
#define _POSIX_C_SOURCE 200809L

#include <SafeStdLib/SafeStdLib.h>

#include "RoutineCalls.h"
#include "SafeStdLib.h"

int StrictHost(void);
int StrictHost(void) {
  PrepareRoutineCalls();
#define STRICT_HOST_CALLS(name, linkage, kind, checked) \
  ROUTINE_IF_##linkage(Wrapped_##name(); ROUTINE_IF_##checked(Checked_##name();))
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(STRICT_HOST_CALLS, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef STRICT_HOST_CALLS
  return SAFESTDLIB_VERSION_MAJOR;
}
