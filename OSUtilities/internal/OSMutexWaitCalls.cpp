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
// holder, and sleeps on.
void SleepInCalls(const OSMutex& m, pthread_mutex_t& raw, OSMutexWait& wait) {
  const UInt32 stallMillis = wait.StallMillis();
  if (stallMillis != 0) {
    const UInt64 deadline = OSNowNanos(CLOCK_REALTIME) + UInt64{stallMillis} * 1000000u;
    const struct timespec at = {static_cast<time_t>(deadline / 1000000000u),
                                static_cast<long>(deadline % 1000000000u)};
    const int err = pthread_mutex_timedlock(&raw, &at);
    if (err == 0) return;
    if (err != ETIMEDOUT) OSFailed("OSMutex", "pthread_mutex_timedlock", err);
    wait.Stalled(m, stallMillis);
  }
  const int err = pthread_mutex_lock(&raw);
  if (err != 0) OSFailed("OSMutex", "pthread_mutex_lock", err);
}

}  // namespace

void OSMutexProtocol::WaitInCalls(OSMutex& m, pthread_t self) {
  OSMutexWait wait(m);
  const bool blocked =
      !wait.Spin([&m] { return TryTakeByCall(m) ? OSMutexWait::kTaken : OSMutexWait::kBusy; });
  if (blocked) SleepInCalls(m, m.fMutex, wait);
  Taken(m, self);
  wait.Ended(m, blocked);
}
