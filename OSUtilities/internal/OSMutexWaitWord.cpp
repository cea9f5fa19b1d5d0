// OSMutexWaitWord.cpp: the fast path's wait for a mutex that another
// thread holds, on glibc's lock word (OSMutexProtocol.h states its rules):
// a spin that looks at the word, naps on it without marking it, then a
// sleep on it, marked, as glibc's own lock sleeps.
//
// Built only where the fast path is (OS_MUTEX_FAST_PATH).

#include "OSUtilities/internal/OSMutexProtocol.h"

#if OS_MUTEX_FAST_PATH

#  include <errno.h>
#  include <pthread.h>

#  include "OSUtilities/internal/OSClock.h"
#  include "OSUtilities/internal/OSMutexGlibc.h"
#  include "OSUtilities/internal/OSMutexWait.h"

namespace {

// A waiter whose spin lost naps on the word, unmarked, kNaps times from
// kFirstNapNanos on, each nap twice the last (about 1.3 ms in all), and
// spins again after each; only then does it mark the word and sleep until
// the holder wakes it. A holder that takes the mutex again at once keeps
// it at full speed meanwhile: its unlock has no sleeper to wake.
constexpr UInt64 kFirstNapNanos = 20 * 1000;
constexpr int kNaps = 6;

// One look at the lock word: takes it if it is free; a sleeper marked on
// it means a hold outlasted an earlier spin, and a spin will not win.
OSMutexWait::Seen LookAtWord(pthread_mutex_t& raw) {
  const int word = __atomic_load_n(&raw.__data.__lock, __ATOMIC_RELAXED);
  if (word == OSGlibc::kContended) return OSMutexWait::kHopeless;
  if (word == OSGlibc::kFree && OSGlibc::TryAcquire(raw)) return OSMutexWait::kTaken;
  return OSMutexWait::kBusy;
}

bool SpinOnWord(pthread_mutex_t& raw, OSMutexWait& wait) {
  return wait.Spin([&raw] { return LookAtWord(raw); });
}

// Sleeps until the calling thread has the word. With a stall threshold,
// wakes at the threshold to write the stall line, once per holder, and
// sleeps on. A routine's wait gives up at the exit's deadline: false.
bool SleepOnWord(const OSMutex& m, pthread_mutex_t& raw, OSMutexWait& wait) {
  int& word = raw.__data.__lock;
  const UInt32 stallMillis = wait.StallMillis();
  const UInt64 stallNanos = UInt64{stallMillis} * 1000000u;
  const UInt64 start = OSNowNanos();
  if (start >= wait.GiveUpAt(start)) return false;
  bool stallSaid = stallMillis == 0;
  // Naps first: a holder that takes the mutex again at once keeps it at
  // full speed, with no wake to make, and this thread tries again after
  // each nap. A sleeper marked on the word ends them.
  UInt64 nap = kFirstNapNanos;
  for (int round = 0; round < kNaps; ++round, nap *= 2) {
    if (__atomic_load_n(&word, __ATOMIC_RELAXED) == OSGlibc::kContended) break;
    bool woken = false;
    const int err = OSGlibc::Nap(word, nap, &woken);
    if (err != 0) OSFailed("OSMutex", "futex wait", err);
    if (woken) break;
    if (SpinOnWord(raw, wait)) return true;
    if (!stallSaid && OSNowNanos() - start >= stallNanos) {
      wait.Stalled(m, stallMillis);
      stallSaid = true;
    }
  }
  // Then sleeps marked, as glibc's own lock does: a sleep of a bounded
  // length looks at the word once and sleeps once, so that the wait can
  // look again at its stall and at the exit.
  return wait.SleepUntilTaken(m, start, stallSaid, [&word](UInt64 nanos) {
    const int err = nanos == OSMutexSleep::kNever ? OSGlibc::TakeContended(word, 0)
                                                  : OSGlibc::TakeContendedOrSleep(word, nanos);
    if (err != 0 && err != ETIMEDOUT && err != EAGAIN) OSFailed("OSMutex", "futex wait", err);
    return err == 0;
  });
}

}  // namespace

bool OSMutexProtocol::WaitOnWord(OSMutex& m, pthread_t self, bool forCall) {
  OSMutexWait wait(m, forCall);
  const bool blocked = !SpinOnWord(m.fMutex, wait);
  if (blocked && !SleepOnWord(m, m.fMutex, wait)) {
    wait.GaveUp();
    return false;
  }
  Taken(m, self);
  wait.Ended(m, blocked);
  return true;
}

#endif  // OS_MUTEX_FAST_PATH
