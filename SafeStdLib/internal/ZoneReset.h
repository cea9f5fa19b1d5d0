// ZoneReset.h: the local zone, set again at most once a second, for the
// routines that convert to local time (InternalStdLib.cpp).
//
// Private to the library; never installed. glibc's localtime() and ctime()
// read TZ again on every call and, with TZ unset, look at /etc/localtime's
// status too: a system call, and one made while the mutex would be held.
// localtime_r() uses the zone as last set, so the routines call it, and set
// the zone again themselves at most once a second, before taking the mutex
// (RecheckZone()): a zone set with setenv() and tzset() is used by the next
// call, and one changed in the environment alone, or a replaced
// /etc/localtime, within a second. The second is time()'s, which glibc
// reads without a system call.
//
// The rest is in ZoneReset.cpp: the re-set itself, the lock that keeps a
// fork from splitting it, and ZoneCall's lock in race-detecting builds.
#ifndef ZoneReset_H
#define ZoneReset_H

#include <pthread.h>
#include <time.h>

#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSPlatform.h"

#define SAFESTDLIB_ZONE_HIDDEN __attribute__((visibility("hidden")))

// The second of time() at which the zone was last set; ~0 before the first.
// Read and written atomically, without the mutex.
extern unsigned long sZoneSetAt SAFESTDLIB_ZONE_HIDDEN;

// Sets the zone again (tzset()) for the second `now`, unless another
// thread has set it since `setAt` or is setting it now. Never blocks.
__attribute__((noinline, cold)) void SetZoneAgain(unsigned long setAt,
                                                  unsigned long now) SAFESTDLIB_ZONE_HIDDEN;

// RecheckZone()
//
// Sets the zone again when time()'s second differs from that of its last
// setting: at most once a second, one thread at a time. For a caller about
// to take the standard-library mutex, or holding it. Never blocks.
__attribute__((always_inline)) inline void RecheckZone() {
  const unsigned long now = static_cast<unsigned long>(time(nullptr));
  const unsigned long setAt = __atomic_load_n(&sZoneSetAt, __ATOMIC_RELAXED);
  if (__builtin_expect(setAt != now, 0)) SetZoneAgain(setAt, now);
}

// ZoneCall
//
// Lives around each call into the C library's zone code (tzset() and the
// conversions, which set the zone up on first use). The C library orders
// those calls with a lock of its own that the race detector cannot see, so
// in a race-detecting build a ZoneCall takes a leaf lock that shows it the
// same order. It is taken last and held for the one call, so it waits only
// for another such call, and no thread holds it at a fork: a fork's
// prepare handlers first wait for a zone being set and for the mutex.
// Elsewhere it is nothing at all.
#if OS_TSAN
extern pthread_mutex_t sZoneCallLock SAFESTDLIB_ZONE_HIDDEN;
class ZoneCall {
 public:
  ZoneCall() {
    const int err = pthread_mutex_lock(&sZoneCallLock);
    if (err != 0) OSFailed("the zone lock", "pthread_mutex_lock", err);
  }
  ~ZoneCall() {
    const int err = pthread_mutex_unlock(&sZoneCallLock);
    if (err != 0) OSFailed("the zone lock", "pthread_mutex_unlock", err);
  }
  ZoneCall(const ZoneCall&) = delete;
  ZoneCall& operator=(const ZoneCall&) = delete;
};
#else
struct ZoneCall {};
#endif

#endif  // ZoneReset_H
