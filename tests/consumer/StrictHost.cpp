// A C++ host that builds with a strict warning set, with and without
// _FORTIFY_SOURCE: every public header, through both include forms, the
// inline entries put to use, and every routine of the list called as
// tests/RoutineCalls.h calls it, into a buffer of known size with room known
// to fit and, for a checked routine, with room read at run time. A row of
// the list without its calls there does not compile.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/OSHeaders.h>
#include <SafeStdLib/OSMutex.h>
#include <SafeStdLib/OSThreadAnnotations.h>
#include <SafeStdLib/SafeStdLib.h>
#include <SafeStdLib/SafeStdLibVersion.h>

#include "OS.h"
#include "RoutineCalls.h"
#include "SafeStdLib.h"

int StrictHost();
int StrictHost() {
  OSMutexLocker locker(OS::GetStdLibMutex());
  routines::PrepareRoutineCalls();
#define STRICT_HOST_CALLS(name, linkage, kind, checked) \
  routines::Wrapped_##name();                           \
  ROUTINE_IF_##checked(routines::Checked_##name();)
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(STRICT_HOST_CALLS, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef STRICT_HOST_CALLS
  return SAFESTDLIB_VERSION_MAJOR;
}
