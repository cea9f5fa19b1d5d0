// OS.cpp: the standard-library mutex and its fork handlers.

#include "OS.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

constinit OSMutex OS::sStdLibOSMutex;

namespace {

// The forking thread holds the mutex across fork(), so no other thread can
// be inside the C library on its behalf when the child is made, and the
// child inherits a mutex whose only holder is the thread that exists there.
void LockBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Lock(); }
void UnlockAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Unlock(); }

// Runs before ordinary static constructors, so that a fork made by one of
// them is already covered.
__attribute__((constructor(101))) void RegisterForkHandlers() {
  const int err = pthread_atfork(LockBeforeFork, UnlockAfterFork, UnlockAfterFork);
  if (err != 0) {
    fprintf(stderr, "OS: pthread_atfork failed: %s\n", strerror(err));
    abort();
  }
}

}  // namespace
