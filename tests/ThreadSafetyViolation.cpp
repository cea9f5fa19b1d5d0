// Must not compile under clang -Wthread-safety -Werror: it touches a value
// guarded by the standard-library mutex without holding it. With
// SAFESTDLIB_HOLD_LOCK defined it holds the lock and must compile.
#include "OS.h"

static int sGuarded OS_GUARDED_BY(OS::sStdLibOSMutex) = 0;

int Touch() {
#ifdef SAFESTDLIB_HOLD_LOCK
  OSMutexLocker locker(OS::GetStdLibMutex());
#endif
  return ++sGuarded;
}
