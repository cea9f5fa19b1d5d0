// OSForkGuard.cpp: fork() from a busy process gives the child a usable
// standard-library mutex.
//
// The forking thread holds the mutex across fork(), so no other thread can
// be inside the C library on its behalf when the child is made, and the
// child inherits a mutex whose only holder is the thread that exists
// there. Registered by the copy in charge of the process alone, which is
// never unloaded (OSProcessJoin.cpp).

#include "OSUtilities/internal/OSForkGuard.h"

#include <pthread.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSProcessRecord.h"

namespace {

void LockBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Lock(); }
void UnlockAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Unlock(); }

// A child starts with one thread: none waits, and no stall is reported.
void ResetWaitsInChild() {
  OSProcessWaits& waits = *OSPrivate::sView.fWaits;
  __atomic_store_n(&waits.fWaiters, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&waits.fStallReported, pthread_t(), __ATOMIC_RELAXED);
}

void UnlockInChild() {
  ResetWaitsInChild();
  UnlockAfterFork();
}

}  // namespace

bool OSGuardForks() { return pthread_atfork(LockBeforeFork, UnlockAfterFork, UnlockInChild) == 0; }

bool OSResetWaitsInChildren() { return pthread_atfork(nullptr, nullptr, ResetWaitsInChild) == 0; }
