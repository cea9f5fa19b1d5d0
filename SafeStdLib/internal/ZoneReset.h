// ZoneReset.h: the local zone, set again as the C library would set it,
// for the routines that convert to local time (InternalStdLib.cpp).
//
// Private to the library; never installed. glibc's localtime() and ctime()
// read TZ again on every call and, with TZ unset, look at /etc/localtime's
// status too: a system call, and one made while the mutex would be held.
// localtime_r() uses the zone as last set, so the routines call it, and set
// the zone again themselves, before taking the mutex (RecheckZone()):
// - when TZ's text differs from the one the zone was last set from (set,
//   changed or removed by setenv(), putenv() or unsetenv() alone): at the
//   very next call, as glibc's tzset_internal() compares TZ with the text
//   it last used (time/tzset.c);
// - with TZ unset, once a second as well: a replaced /etc/localtime is seen
//   within a second (glibc stats the file on every call). With TZ set the C
//   library reads nothing again while the text stays the same.
// Neither look makes a system call: the environment is read in memory, and
// time()'s second comes from the vDSO.
//
// Where TZ was found is recorded beside its text: the environment's array,
// and the entry's place and pointer (with TZ unset, the last entry's).
// setenv(), putenv() and unsetenv() change the array, an entry's pointer or
// the number of entries, so a call that finds all of these as they were
// compares only the entry's text (which a putenv() caller may change in
// place), and walks the environment only when one of them moved.
//
// The rest is in ZoneReset.cpp: the long way, the re-set itself, the lock
// that keeps a fork from splitting it, and ZoneCall's lock in
// race-detecting builds.
#ifndef ZoneReset_H
#define ZoneReset_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSPlatform.h"

#define SAFESTDLIB_ZONE_HIDDEN __attribute__((visibility("hidden")))

extern "C" char** environ;

// The record of what the zone was last set from, read without a lock: a
// sequence lock whose writers take the count from even to odd with a
// compare-exchange, so that one writes at a time, and a reader that
// overlaps a write finds the count moved and looks again the long way. An
// entry too long for the room is never taken as seen: such a zone is set
// again at every call (no system call for a POSIX rule; for a zone file,
// what glibc's own call would make). Every field is read and written
// atomically; a reader loads the fields with acquire, so that its second
// read of the count comes after them (plain loads on x86-64, and no fence,
// which ThreadSanitizer does not model).
struct ZoneSeen {
  // The entry's text is compared a word at a time: a word is a uintptr_t,
  // which every target loads atomically with a plain load.
  static constexpr size_t kWord = sizeof(uintptr_t);
  static constexpr size_t kWords = 16;
  unsigned fSequence;
  // The environment's array; kNotAnEnvironment for a record never to be
  // taken as seen.
  char** fEnvironment;
  size_t fPlace;       // of the entry; with TZ unset, of the last entry (0, none)
  const char* fEntry;  // its pointer
  // Of the entry's text, its terminator included; 0: TZ unset; SIZE_MAX: a
  // text too long to keep, never the same as any.
  size_t fLength;
  // The text, "TZ=" first: its whole words before the last, then the word
  // that ends it (ZoneTextLast).
  uintptr_t fWords[kWords];
  uintptr_t fLast;
};
extern ZoneSeen sZoneSeen SAFESTDLIB_ZONE_HIDDEN;

// The second of time() at which the zone was last set; ~0 before the first.
// Read and written atomically, without the mutex.
extern unsigned long sZoneSetAt SAFESTDLIB_ZONE_HIDDEN;

// Where TZ is now, the long way, and the zone set again from it if its
// text changed (waiting, then, for a setting under way: the zone this call
// converts with must be the one TZ names now). Blocks only on the zone's
// fork lock, held by a setter or a fork's prepare handler, and never for a
// caller that holds the standard-library mutex.
__attribute__((noinline, cold)) void RecheckZoneTheLongWay() SAFESTDLIB_ZONE_HIDDEN;

// With TZ unset, sets the zone again for the second `now`, unless another
// thread has set it for that second or is setting it now. Never blocks.
__attribute__((noinline, cold)) void SetZoneForTheSecond(unsigned long now) SAFESTDLIB_ZONE_HIDDEN;

// The word that ends a text of length bytes (at least 4: "TZ=" and its
// terminator): its last kWord bytes, which may overlap the words before
// them; for a text shorter than a word, its first and last 4 bytes side by
// side. The text's own bytes only, and one load for each half.
__attribute__((always_inline)) inline uintptr_t ZoneTextLast(const char* text, size_t length) {
  uintptr_t word;
  if (__builtin_expect(length >= ZoneSeen::kWord, 1)) {
    __builtin_memcpy(&word, text + length - ZoneSeen::kWord, ZoneSeen::kWord);
    return word;
  }
  uint32_t head, tail;
  __builtin_memcpy(&head, text, 4);
  __builtin_memcpy(&tail, text + length - 4, 4);
  word = head;
  if constexpr (ZoneSeen::kWord > 4) word |= static_cast<uintptr_t>(tail) << 16 << 16;
  return word;
}

// Whether entry's text is the recorded one, length bytes with its
// terminator: the word that ends it (ZoneTextLast), then the whole words
// before that one. The entry is read only within that length: its pointer
// is the one recorded, so its storage had at least that many bytes, and a
// putenv() caller that changed it in place kept them. Read under the
// record's sequence. (The routines' file is built with -fno-builtin: the
// copies name the builtin.)
__attribute__((always_inline)) inline bool ZoneTextIs(const char* entry, size_t length) {
  if (ZoneTextLast(entry, length) != __atomic_load_n(&sZoneSeen.fLast, __ATOMIC_ACQUIRE))
    return false;
  const uintptr_t* recorded = sZoneSeen.fWords;
  for (size_t left = length; left > ZoneSeen::kWord; left -= ZoneSeen::kWord, ++recorded) {
    uintptr_t word;
    __builtin_memcpy(&word, entry + (length - left), ZoneSeen::kWord);
    if (word != __atomic_load_n(recorded, __ATOMIC_ACQUIRE)) return false;
  }
  return true;
}

// The short way: whether TZ is where, and what, the record says, and the
// zone was last set from it. With TZ unset, *unset is set. Never blocks.
// The record's place is followed only once the sequence shows that the
// record is whole and names the environment as it is: the place is then
// within that array's storage, which setenv() and unsetenv() only grow or
// move.
__attribute__((always_inline)) inline bool ZoneAsRecorded(bool* unset) {
  char** const environment = environ;
  const unsigned sequence = __atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_ACQUIRE);
  char** const recorded = __atomic_load_n(&sZoneSeen.fEnvironment, __ATOMIC_ACQUIRE);
  const size_t place = __atomic_load_n(&sZoneSeen.fPlace, __ATOMIC_ACQUIRE);
  const char* const expected = __atomic_load_n(&sZoneSeen.fEntry, __ATOMIC_ACQUIRE);
  const size_t length = __atomic_load_n(&sZoneSeen.fLength, __ATOMIC_ACQUIRE);
  if (__builtin_expect(__atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_RELAXED) != sequence, 0) ||
      __builtin_expect((sequence & 1) != 0, 0) || recorded != environment)
    return false;
  char** const slot = environment + place;
  const char* const entry = slot[0];
  if (entry != expected) return false;
  if (length == 0) {
    // The last entry, still last; or an environment still empty.
    *unset = true;
    return entry == nullptr || slot[1] == nullptr;
  }
  const bool same = ZoneTextIs(entry, length);
  return same && __atomic_load_n(&sZoneSeen.fSequence, __ATOMIC_RELAXED) == sequence;
}

// With TZ unset and as recorded: the zone set again if this second's
// setting is still due.
__attribute__((always_inline)) inline void RecheckZoneForTheSecond() {
  const unsigned long now = static_cast<unsigned long>(time(nullptr));
  if (__builtin_expect(__atomic_load_n(&sZoneSetAt, __ATOMIC_RELAXED) != now, 0))
    SetZoneForTheSecond(now);
}

// RecheckZone()
//
// Sets the zone again where the C library would: at once when TZ's text
// changed, and with TZ unset once a second. For a caller about to take the
// standard-library mutex, or holding it. Blocks only as
// RecheckZoneTheLongWay() does, for a changed TZ.
__attribute__((always_inline)) inline void RecheckZone() {
  bool unset = false;
  if (__builtin_expect(!ZoneAsRecorded(&unset), 0)) return RecheckZoneTheLongWay();
  if (unset) RecheckZoneForTheSecond();
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
