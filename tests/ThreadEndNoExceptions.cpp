// Host code built without exceptions: a thread that holds the
// standard-library mutex through a locker and is cancelled runs no
// destructor, so the locker never unlocks.
#include <unistd.h>

#include "OS.h"
#include "ThreadEndHost.h"

void* HoldInLockerUntilCancelled(void*) {
  OSMutexLocker locker(OS::GetStdLibMutex());
  for (;;) pause();  // a cancellation point
  return nullptr;
}
