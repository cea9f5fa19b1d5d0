// OSMutexWaitCalls.cpp: the pthread-call path's wait for a mutex that
// another thread holds: a spin of pthread_mutex_trylock() calls, then a
// sleep in pthread_mutex_lock(), or in pthread_mutex_timedlock() while a
// stall threshold is set.

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "OSUtilities/internal/OSClock.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSMutexWait.h"

namespace {

// Sleeps in the pthread calls until the calling thread has m. With a stall
// threshold, wakes at the threshold to write the stall line, once per
// holder, and sleeps on. A routine's wait sleeps in
// pthread_mutex_timedlock() too, since a thread asleep in
// pthread_mutex_lock() cannot be woken without the mutex, and gives up at
// the exit's deadline: false.
bool SleepInCalls(const OSMutex& m, pthread_mutex_t& raw, OSMutexWait& wait) {
  const UInt64 began = OSNowNanos();
  if (began >= wait.GiveUpAt(began)) return false;
  return wait.SleepUntilTaken(m, began, wait.StallMillis() == 0, [&raw](UInt64 nanos) {
    if (nanos == OSMutexSleep::kNever) {
      const int err = pthread_mutex_lock(&raw);
      if (err != 0) OSFailed("OSMutex", "pthread_mutex_lock", err);
      return true;
    }
    const UInt64 deadline = OSNowNanos(CLOCK_REALTIME) + nanos;
    const struct timespec at = {static_cast<time_t>(deadline / 1000000000u),
                                static_cast<long>(deadline % 1000000000u)};
    const int err = pthread_mutex_timedlock(&raw, &at);
    if (err != 0 && err != ETIMEDOUT) OSFailed("OSMutex", "pthread_mutex_timedlock", err);
    return err == 0;
  });
}

}  // namespace

bool OSMutexProtocol::WaitInCalls(OSMutex& m, pthread_t self, bool forCall) {
  OSMutexWait wait(m, forCall);
  const bool blocked =
      !wait.Spin([&m] { return TryTakeByCall(m) ? OSMutexWait::kTaken : OSMutexWait::kBusy; });
  if (blocked && !SleepInCalls(m, m.fMutex, wait)) {
    wait.GaveUp();
    return false;
  }
  Taken(m, self);
  wait.Ended(m, blocked);
  return true;
}
