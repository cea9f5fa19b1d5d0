// OSClock.h: the library's one clock reading, in nanoseconds.
//
// Private to the library; never installed. The waits, the stall line and
// the exit hold all measure time with OSNowNanos(). The utilities' and the
// routines' code may both use it.
#ifndef OSClock_H
#define OSClock_H

#include <time.h>

#include "OSUtilities/OSHeaders.h"

// OSNowNanos()
//
// The time on `clock` (CLOCK_MONOTONIC unless said), in nanoseconds. Never
// blocks; a clock that cannot be read counts as 0.
inline UInt64 OSNowNanos(clockid_t clock = CLOCK_MONOTONIC) {
  struct timespec now = {0, 0};
  clock_gettime(clock, &now);
  return static_cast<UInt64>(now.tv_sec) * 1000000000u + static_cast<UInt64>(now.tv_nsec);
}

#endif  // OSClock_H
