// OSProcessRecord.h: what the copies of the library in one process share
// beside the mutex itself.
//
// Private to the library; never installed. One record per process (see
// OSProcessUnique.h). The first copy to run its start-up takes charge of
// the record: it registers the process's fork handlers and the exit hold,
// makes the thread-end key, and keeps itself loaded for the life of the
// process, so that nothing it registered can outlive its code.
#ifndef OSProcessRecord_H
#define OSProcessRecord_H

#include <pthread.h>

#include "OSHeaders.h"

// One per thread and copy of the library: whether the thread has arranged,
// through that copy, for the standard-library mutex to be released if the
// thread ends holding it. The thread-end key's value chains the links of
// every copy the thread arranged through, so that the key's destructor can
// clear them all, and a level taken in a later key destructor arranges the
// release again.
struct OSThreadEndLink {
  bool fArranged;
  OSThreadEndLink* fNext;
};

struct OSProcessRecord {
  int fClaimed;  // 1 once a copy has taken charge of the process
  // Made by the copy in charge, and by every copy through it: 0 while no
  // key is made, 1 while one thread makes it, 2 once fThreadEndKey is made.
  int fThreadEndState;
  pthread_key_t fThreadEndKey;
  // The copy in charge's MakeThreadEndKey(), which only that copy's code
  // may run: the key's destructor lives there. Null until a copy takes
  // charge.
  bool (*fMakeThreadEndKey)();

  // How the standard-library mutex has been waited for: written by a
  // waiter once it holds the mutex, read under it (OS::GetStdLibMutexContention()).
  UInt64 fContendedLocks;
  UInt64 fWaitNanos;
  UInt64 fLongestWaitNanos;
  UInt64 fKernelWaits;
  // What the host asked for (OS.h); read by waiters without the mutex.
  void (*fTracer)(const char* message, const void* mutex, UInt64 waitNanos);
  UInt32 fStallMillis;  // 0: no stall line
  // Threads waiting for the mutex now; the holder a stall line was written
  // for, until a waiter gets the mutex.
  int fWaiters;
  pthread_t fStallReported;
};

namespace OSPrivate {
SAFESTDLIB_API extern OSProcessRecord sProcess;
}

// The thread-end key's destructor: releases every level of the
// standard-library mutex that the ending thread still holds, and says so on
// standard error.
void OSReleaseForEndedThread(void* links);

#endif  // OSProcessRecord_H
