// ZoneReset.cpp: the local zone's re-set, at most once a second
// (ZoneReset.h), and what keeps it whole across fork() and visible to
// race detectors.

#include "SafeStdLib/internal/ZoneReset.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSPlatform.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

unsigned long sZoneSetAt = ~0UL;

#if OS_TSAN
pthread_mutex_t sZoneCallLock = PTHREAD_MUTEX_INITIALIZER;
#endif

#if defined(SAFESTDLIB_VALGRIND)
// Tells valgrind's race detectors that the second is read and written
// atomically, without the mutex.
__attribute__((constructor)) static void DescribeZoneSetAt() {
  VALGRIND_HG_DISABLE_CHECKING(&sZoneSetAt, sizeof sZoneSetAt);
  DRD_IGNORE_VAR(sZoneSetAt);
}
#endif

// A fork while a thread is inside tzset() would leave the C library's own
// zone lock taken in the child for good, and the child's next conversion
// would wait for ever. So the thread that sets the zone holds sZoneLock
// through tzset(), taking it only if it is free, so that it never waits
// (a caller may hold the mutex); a fork's first prepare handler takes it,
// waiting for a tzset() under way, which waits for nothing of the
// library's, and both sides of the fork give it back.
static pthread_mutex_t sZoneLock = PTHREAD_MUTEX_INITIALIZER;

static void GiveZoneLock() {
  const int err = pthread_mutex_unlock(&sZoneLock);
  if (err != 0) OSFailed("the zone lock", "pthread_mutex_unlock", err);
}

static void TakeZoneLockBeforeFork() {
  const int err = pthread_mutex_lock(&sZoneLock);
  if (err != 0) OSFailed("the zone lock", "pthread_mutex_lock", err);
}

// Registered after the mutex's own fork handlers, so that its prepare
// handler runs first: no thread waits for the zone lock while it holds the
// mutex.
__attribute__((constructor(102))) static void GuardZoneAcrossFork() {
  if (pthread_atfork(TakeZoneLockBeforeFork, GiveZoneLock, GiveZoneLock) != 0)
    fprintf(stderr,
            "SafeStdLib: cannot register the zone's fork handlers: a child forked while a "
            "thread sets the zone may wait for ever in zuvo_localtime\n");
}

void SetZoneAgain(unsigned long setAt, unsigned long now) {
  // One thread a second sets it; another that finds the lock taken (by a
  // setter, or by a fork under way) tries again at its next call.
  const int err = pthread_mutex_trylock(&sZoneLock);
  if (err == EBUSY) return;
  if (err != 0) OSFailed("the zone lock", "pthread_mutex_trylock", err);
  if (__atomic_compare_exchange_n(&sZoneSetAt, &setAt, now, false, __ATOMIC_RELAXED,
                                  __ATOMIC_RELAXED)) {
    [[maybe_unused]] ZoneCall zoneCall;
    tzset();
  }
  GiveZoneLock();
}
