// OS.cpp: the OS entries for hosts (OS.h): the standard-library mutex's
// contention figures, its tracer and its stall line.
//
// Each reads or writes the figures that this copy's start-up chose
// (OSProcessView::fWaits, OSProcessJoin.cpp): the process's, shared by
// every copy of the library, or this copy's own.

#include "OSUtilities/OS.h"

#include "OSUtilities/internal/OSProcessRecord.h"

OSMutexContention OS::GetStdLibMutexContention() {
  OSMutexLocker locker(OSPrivate::sView.fMutex);
  const OSProcessWaits& waits = *OSPrivate::sView.fWaits;
  return OSMutexContention{waits.fContendedLocks, waits.fWaitNanos, waits.fLongestWaitNanos,
                           waits.fKernelWaits};
}

void OS::SetStdLibMutexTracer(ContentionTracer tracer) {
  __atomic_store_n(&OSPrivate::sView.fWaits->fTracer, tracer, __ATOMIC_RELEASE);
}

void OS::SetStdLibMutexStallMillis(UInt32 millis) {
  __atomic_store_n(&OSPrivate::sView.fWaits->fStallMillis, millis, __ATOMIC_RELAXED);
}
