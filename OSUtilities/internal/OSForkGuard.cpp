// OSForkGuard.cpp: fork() from a busy process gives the child a usable
// standard-library mutex.
//
// The forking thread holds the mutex across fork(), so no other thread can
// be inside the C library on its behalf when the child is made, and the
// child inherits a mutex whose only holder is the thread that exists
// there. Registered by the copy in charge of the process alone, which is
// never unloaded (OSProcessJoin.cpp), and, for a mutex of its own, by each
// copy that keeps one.

#include "OSUtilities/internal/OSForkGuard.h"

#include <pthread.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSExitHold.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessRecord.h"

#if OS_GLIBC
// pthread_atfork()'s own entry, exported by glibc on every target: it takes
// the object that the handlers belong to.
extern "C" int __register_atfork(void (*prepare)(), void (*parent)(), void (*child)(),
                                 void* dsoHandle);
#endif

namespace {

// The forking thread takes the mutex as a routine does: once the exit hold
// is over, a thread other than the exiting one waits for it until the
// exit's deadline at most (OSMutexProtocol::LockForCall()), and then forks
// without it (sForkTook false); that child starts with the mutex free.
__thread bool sForkTook __attribute__((tls_model("initial-exec"))) = false;

void LockBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS {
  sForkTook = OSMutexProtocol::LockForCall(OS::sStdLibOSMutex);
}

void UnlockAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS {
  if (sForkTook) OS::sStdLibOSMutex.Unlock();
}

// A child starts with one thread: none waits, and no stall is reported.
void ResetWaitsInChild() {
  OSProcessWaits& waits = *OSPrivate::sView.fWaits;
  __atomic_store_n(&waits.fWaiters, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&waits.fStallReported, pthread_t(), __ATOMIC_RELAXED);
}

// ... and with none of its parent's exit.
void UnlockInChild() {
  ResetWaitsInChild();
  OSStartChildWithoutTheExit();
  if (sForkTook)
    UnlockAfterFork();
  else
    OSMutexProtocol::ResetInChild(OS::sStdLibOSMutex);
}

// A copy that keeps a mutex of its own guards it the same way. Its handlers
// run before the process's, which were registered first: the forking
// thread takes that copy's mutex, then the process's.
void LockOwnBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS { OSPrivate::sView.fMutex->Lock(); }
void UnlockOwnAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS { OSPrivate::sView.fMutex->Unlock(); }
void UnlockOwnInChild() {
  ResetWaitsInChild();
  UnlockOwnAfterFork();
}

}  // namespace

bool OSGuardForks() {
  // glibc drops the handlers that an object registered as it finalises that
  // object (__cxa_finalize(), which also runs for each object at exit, the
  // executable included), so a fork made in the rest of the exit, the exit
  // hold's included, would run none. The copy in charge is never unloaded:
  // its handlers belong to no object, and stay to the end.
#if OS_GLIBC
  return __register_atfork(LockBeforeFork, UnlockAfterFork, UnlockInChild, nullptr) == 0;
#else
  return pthread_atfork(LockBeforeFork, UnlockAfterFork, UnlockInChild) == 0;
#endif
}

bool OSGuardOwnMutexAcrossForks() {
  // Registered for this copy's object: its dlclose() unregisters them.
  return pthread_atfork(LockOwnBeforeFork, UnlockOwnAfterFork, UnlockOwnInChild) == 0;
}

bool OSResetWaitsInChildren() { return pthread_atfork(nullptr, nullptr, ResetWaitsInChild) == 0; }
