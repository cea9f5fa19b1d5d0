// ZoneReset.cpp: the local zone's re-set (ZoneReset.h): the long look at
// TZ, the record of what the zone was set from, and what keeps the setting
// whole across fork() and visible to race detectors.

#include "SafeStdLib/internal/ZoneReset.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

unsigned long sZoneSetAt = ~0UL;

// What a record that must never be taken as seen names as its
// environment: no environment is this array.
static char* const kNotAnEnvironment[1] = {nullptr};
ZoneSeen sZoneSeen = {0, const_cast<char**>(kNotAnEnvironment), 0, nullptr, 0, {}, 0};

#if OS_TSAN
pthread_mutex_t sZoneCallLock = PTHREAD_MUTEX_INITIALIZER;
#endif

#if defined(SAFESTDLIB_VALGRIND)
// Tells valgrind's race detectors that the second and the record are read
// and written atomically, without the mutex.
__attribute__((constructor)) static void DescribeZoneSetAt() {
  VALGRIND_HG_DISABLE_CHECKING(&sZoneSetAt, sizeof sZoneSetAt);
  DRD_IGNORE_VAR(sZoneSetAt);
  VALGRIND_HG_DISABLE_CHECKING(&sZoneSeen, sizeof sZoneSeen);
  DRD_IGNORE_VAR(sZoneSeen);
}
#endif

// A fork while a thread is inside tzset() would leave the C library's own
// zone lock taken in the child for good, and the child's next conversion
// would wait for ever. So a thread that sets the zone and does not hold
// the mutex holds sZoneLock through tzset(); a fork's first prepare handler
// takes it, waiting for a tzset() under way, which waits for nothing of the
// library's, and both sides of the fork give it back. A thread that holds
// the mutex needs no sZoneLock: no fork can pass its prepare handlers,
// which take the mutex, until that thread lets go.
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

namespace {

// Where TZ is now: its entry (null when unset) and that entry's place, or
// the number of entries.
struct ZoneEntry {
  const char* fEntry;
  size_t fPlace;
};

// TZ's entry as getenv() finds it, the first that names it.
ZoneEntry FindZoneEntry(char** environment) {
  size_t place = 0;
  if (environment != nullptr)
    for (; environment[place] != nullptr; ++place)
      if (strncmp(environment[place], "TZ=", 3) == 0) return {environment[place], place};
  return {nullptr, place};
}

// Whether the zone was last set from found's text (or from an unset TZ).
bool ZoneSetFrom(const ZoneEntry& found) {
  const unsigned sequence = __atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_ACQUIRE);
  const size_t length = __atomic_load_n(&sZoneSeen.fLength, __ATOMIC_ACQUIRE);
  const bool same = found.fEntry == nullptr
                        ? length == 0
                        : strlen(found.fEntry) + 1 == length && ZoneTextIs(found.fEntry, length);
  return same && (sequence & 1) == 0 &&
         __atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_RELAXED) == sequence;
}

// Records that the zone was set from found, in environment. A writer that
// finds another one under way leaves the record to it; the next call looks
// again the long way.
void RecordZone(char** environment, const ZoneEntry& found) {
  constexpr size_t kWord = ZoneSeen::kWord;
  unsigned sequence = __atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_RELAXED);
  if ((sequence & 1) != 0 ||
      !__atomic_compare_exchange_n(&sZoneSeen.fSequence, &sequence, sequence + 1, false,
                                   __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
    return;
  // With TZ unset the record keeps the last entry (none in an empty
  // environment): an entry added or taken away moves it or the terminator
  // after it. A missing environment (clearenv()) is read the long way at
  // every call, and an entry too long for the room is never taken as the
  // same.
  size_t place = found.fPlace;
  const char* entry = found.fEntry;
  size_t length = 0;
  if (entry != nullptr) {
    length = strlen(entry) + 1;
    if (length > ZoneSeen::kWords * kWord) {
      length = SIZE_MAX;
      environment = const_cast<char**>(kNotAnEnvironment);
    } else {
      for (size_t i = 0; i + kWord < length; i += kWord) {
        uintptr_t word;
        __builtin_memcpy(&word, entry + i, kWord);
        __atomic_store_n(&sZoneSeen.fWords[i / kWord], word, __ATOMIC_RELAXED);
      }
      __atomic_store_n(&sZoneSeen.fLast, ZoneTextLast(entry, length), __ATOMIC_RELAXED);
    }
  } else if (environment == nullptr) {
    environment = const_cast<char**>(kNotAnEnvironment);
  } else if (place > 0) {
    entry = environment[--place];
  }
  __atomic_store_n(&sZoneSeen.fEnvironment, environment, __ATOMIC_RELAXED);
  __atomic_store_n(&sZoneSeen.fPlace, place, __ATOMIC_RELAXED);
  __atomic_store_n(&sZoneSeen.fEntry, entry, __ATOMIC_RELAXED);
  __atomic_store_n(&sZoneSeen.fLength, length, __ATOMIC_RELAXED);
  __atomic_store_n(&sZoneSeen.fSequence, sequence + 2, __ATOMIC_RELEASE);
}

// Sets the zone from TZ as it is now, and records it: textChanged when its
// text differs from the one the zone was last set from (then the call
// waits for a setting under way), or else for the second now, once (then
// a thread that finds the lock taken, by a setter or by a fork under way,
// leaves it to that thread or to its next call).
void SetZone(char** environment, const ZoneEntry& found, bool textChanged, unsigned long now) {
  const bool held = OSMutexProtocol::HeldByCaller(*OSStdLibMutexInUse());
  if (!held) {
    const int err =
        textChanged ? pthread_mutex_lock(&sZoneLock) : pthread_mutex_trylock(&sZoneLock);
    if (err == EBUSY) return;
    if (err != 0)
      OSFailed("the zone lock", textChanged ? "pthread_mutex_lock" : "pthread_mutex_trylock", err);
  }
  unsigned long setAt = __atomic_load_n(&sZoneSetAt, __ATOMIC_RELAXED);
  const bool secondTaken =
      setAt != now && __atomic_compare_exchange_n(&sZoneSetAt, &setAt, now, false, __ATOMIC_RELAXED,
                                                  __ATOMIC_RELAXED);
  if (textChanged || secondTaken) {
    [[maybe_unused]] ZoneCall zoneCall;
    tzset();
  }
  RecordZone(environment, found);
  if (!held) GiveZoneLock();
}

}  // namespace

void RecheckZoneTheLongWay() {
  char** const environment = environ;
  const ZoneEntry found = FindZoneEntry(environment);
  const bool textChanged = !ZoneSetFrom(found);
  const unsigned long now = static_cast<unsigned long>(time(nullptr));
  // TZ moved, not changed: the zone stands, and only where TZ is now is
  // recorded, unless the second's setting is due too.
  if (!textChanged &&
      (found.fEntry != nullptr || __atomic_load_n(&sZoneSetAt, __ATOMIC_RELAXED) == now))
    return RecordZone(environment, found);
  SetZone(environment, found, textChanged, now);
}

void SetZoneForTheSecond(unsigned long now) {
  char** const environment = environ;
  SetZone(environment, FindZoneEntry(environment), false, now);
}
