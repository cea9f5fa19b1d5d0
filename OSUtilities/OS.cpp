// OS.cpp: the standard-library mutex's part in the process's life: fork(),
// exit() and the end of a thread that holds it.
//
// Every copy of the library in the process runs OSJoinTheProcess(). Only the
// first registers the handlers (OSProcessRecord.h), so there is one set per
// process, and it belongs to an object that is never unloaded.

#include "OS.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "OSMutexProtocol.h"
#include "OSProcessRecord.h"

namespace {

// How long exit() waits for another thread to let go of the mutex.
constexpr int kExitWaitMillis = 500;

// The forking thread holds the mutex across fork(), so no other thread can
// be inside the C library on its behalf when the child is made, and the
// child inherits a mutex whose only holder is the thread that exists there.
void LockBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Lock(); }
void UnlockAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Unlock(); }

// Runs after every exit handler and static destructor registered after
// start-up, just before the C library flushes and unbuffers its streams,
// which it does without taking their locks. From here on the exiting thread
// holds the mutex for good, so no thread that prints through the routines
// is inside the C library then; the mutex is recursive, so the exiting
// thread itself keeps full use of them. A holder that does not let go
// within kExitWaitMillis does not stop the exit.
void HoldAtExit() OS_NO_THREAD_SAFETY_ANALYSIS {
  const struct timespec oneMilli = {0, 1000 * 1000};
  for (int waited = 0; waited < kExitWaitMillis; ++waited) {
    if (OS::sStdLibOSMutex.TryLock()) return;
    nanosleep(&oneMilli, nullptr);
  }
}

[[noreturn]] void Fail(const char* call, int err) {
  fprintf(stderr, "OS: %s failed: %s\n", call, strerror(err));
  abort();
}

// A copy whose definition of the mutex was hidden from the dynamic linker
// uses a mutex of its own while another copy's is visible to all. Returns
// whether it said so.
bool WarnOfASecondMutex() {
  void* const visible = dlsym(RTLD_DEFAULT, "_ZN2OS14sStdLibOSMutexE");
  if (visible == nullptr || visible == &OS::sStdLibOSMutex) return false;
  Dl_info used;
  const char* const object =
      dladdr(&OS::sStdLibOSMutex, &used) != 0 && used.dli_fname != nullptr ? used.dli_fname : "?";
  fprintf(stderr,
          "SafeStdLib: %s uses a standard-library mutex of its own, not the process's: its "
          "copy of the library was linked with OS::sStdLibOSMutex hidden\n",
          object);
  return true;
}

// Makes the process's thread-end key, whose destructor runs in every thread
// that ends after taking the mutex.
void MakeThreadEndKey() {
  const int err = pthread_key_create(&OSPrivate::sProcess.fThreadEndKey, OSReleaseForEndedThread);
  if (err != 0) Fail("pthread_key_create", err);
  __atomic_store_n(&OSPrivate::sProcess.fThreadEndReady, 1, __ATOMIC_RELEASE);
}

}  // namespace

// A thread that returns, calls pthread_exit() or is cancelled without
// unwinding through a locker (host code built without exceptions) while it
// holds the mutex would keep it for good, and the C library may give its
// pthread_t to the next thread, which would then be taken for the holder.
void OSReleaseForEndedThread(void*) {
  const UInt32 levels = OSMutexProtocol::ReleaseForEndedThread(OS::sStdLibOSMutex);
  if (levels != 0)
    fprintf(stderr,
            "SafeStdLib: a thread ended holding the standard-library mutex; its %u level(s) "
            "are released\n",
            levels);
}

// Runs before ordinary static constructors, so that a fork made by one of
// them is already covered, and so that the exit handler is registered
// before theirs and runs after them.
__attribute__((constructor(101))) void OSJoinTheProcess() {
  // A copy with a mutex of its own leaves the process's handlers alone;
  // of the others, the first to start takes charge of them.
  if (WarnOfASecondMutex()) return;
  if (__atomic_exchange_n(&OSPrivate::sProcess.fClaimed, 1, __ATOMIC_ACQ_REL) != 0) return;
  MakeThreadEndKey();
  const int err = pthread_atfork(LockBeforeFork, UnlockAfterFork, UnlockAfterFork);
  if (err != 0) Fail("pthread_atfork", err);
  if (atexit(HoldAtExit) != 0) Fail("atexit", ENOMEM);
}
