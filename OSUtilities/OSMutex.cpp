// OSMutex.cpp: the contended paths of OSMutex, and the release of a
// thread that ends holding it.

#include "OSMutex.h"

#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "OSProcessRecord.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

namespace {

// A waiter looks at the lock word at growing intervals, up to kMaxBackoff
// pauses apart, for kSpinPauses pauses in all (some tens to hundreds of
// microseconds), and then blocks. Looking seldom leaves the holder's cache
// line alone, so a holder that calls again at once keeps the mutex for a
// while at full speed, and the waiter still gets it within a few
// microseconds; two threads calling without pause get about the throughput
// of one, in fair shares. Blocking in the end keeps a holder that is stuck
// in a slow write from costing the waiter a core.
constexpr int kMaxBackoff = 128;
constexpr int kSpinPauses = 8192;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

void OSMutex::AcquireContended() {
#if OS_MUTEX_FAST_PATH
  int backoff = 1;
  for (int spent = 0; spent < kSpinPauses; spent += backoff) {
    for (int i = 0; i < backoff; ++i) CpuRelax();
    if (__atomic_load_n(&fMutex.__data.__lock, __ATOMIC_RELAXED) == 0 && TryAcquire()) return;
    if (backoff < kMaxBackoff) backoff *= 2;
  }
#endif
  const int err = pthread_mutex_lock(&fMutex);
  if (err != 0) Fail("pthread_mutex_lock", err);
}

__thread bool OSMutex::sThreadEndArranged = false;

void OSMutex::ArrangeThreadEnd() {
  // Before the process's key is made (static constructors that run before
  // the library's), or when the C library has no room for the value, the
  // thread tries again at its next first level.
  if (!__atomic_load_n(&OSPrivate::sProcess.fThreadEndReady, __ATOMIC_ACQUIRE)) return;
  if (pthread_setspecific(OSPrivate::sProcess.fThreadEndKey, &sThreadEndArranged) != 0) return;
  sThreadEndArranged = true;
}

UInt32 OSMutex::ReleaseForEndedThread() {
  if (!HeldBy(CurrentThread())) return 0;
  const UInt32 levels = fHolderCount;
  fHolderCount = 0;
  SetHolder(0);
  Release();
  return levels;
}

void OSMutex::ReleaseBlocked() {
  const int err = pthread_mutex_unlock(&fMutex);
  if (err != 0) Fail("pthread_mutex_unlock", err);
}

#if OS_MUTEX_FAST_PATH
void OSMutex::WakeWaiter(int lockWord) {
  if (lockWord != 2) Fail("unlock of a free mutex", EPERM);
  // Threads sleep on the word: wake one, as pthread_mutex_unlock() would.
  // The call cannot fail on a valid address, so errno stays as it was.
  if (syscall(SYS_futex, &fMutex.__data.__lock, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0) < 0)
    Fail("futex wake", errno);
}
#endif

#if defined(SAFESTDLIB_VALGRIND)
void OSMutex::DescribeToRaceDetectors() const {
  VALGRIND_HG_DISABLE_CHECKING(&fHolder, sizeof fHolder);
  DRD_IGNORE_VAR(fHolder);
}
#endif

void OSMutex::Fail(const char* call, int err) {
  fprintf(stderr, "OSMutex: %s failed: %s\n", call, strerror(err));
  abort();
}
