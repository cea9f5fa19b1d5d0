// OSMutex.cpp: the contended paths of OSMutex.

#include "OSMutex.h"

#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// How often a waiter looks at the lock word before it blocks. Long enough to
// outlast a typical holder (one formatted print), short enough that a
// holder stuck in a slow write does not keep a core busy.
constexpr int kSpinsBeforeBlocking = 200;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

void OSMutex::AcquireContended() {
#if OS_MUTEX_FAST_PATH
  for (int spin = 0; spin < kSpinsBeforeBlocking; ++spin) {
    CpuRelax();
    if (__atomic_load_n(&fMutex.__data.__lock, __ATOMIC_RELAXED) == 0 && TryAcquire()) return;
  }
#endif
  const int err = pthread_mutex_lock(&fMutex);
  if (err != 0) Fail("pthread_mutex_lock", err);
}

void OSMutex::ReleaseBlocked() {
  const int err = pthread_mutex_unlock(&fMutex);
  if (err != 0) Fail("pthread_mutex_unlock", err);
}

void OSMutex::WakeWaiter(int lockWord) {
#if OS_MUTEX_FAST_PATH
  if (lockWord != 2) Fail("unlock of a free mutex", EPERM);
  // Threads sleep on the word: wake one, as pthread_mutex_unlock() would.
  // The call cannot fail on a valid address, so errno stays as it was.
  if (syscall(SYS_futex, &fMutex.__data.__lock, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0) < 0)
    Fail("futex wake", errno);
#else
  (void)lockWord;
#endif
}

void OSMutex::Fail(const char* call, int err) {
  fprintf(stderr, "OSMutex: %s failed: %s\n", call, strerror(err));
  abort();
}
