// OSMutex.cpp: OSMutex's entries for hosts, the contended and pthread-call
// paths, the choice between them, and the release of a thread that ends
// holding the mutex.

#include "OSMutex.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "OSMutexProtocol.h"
#include "OSProcessRecord.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

void OSMutex::RecursiveLock() { OSMutexProtocol::Lock(*this); }
void OSMutex::RecursiveUnlock() { OSMutexProtocol::Unlock(*this); }
Bool16 OSMutex::RecursiveTryLock() { return OSMutexProtocol::TryLock(*this); }

// ---- Through the pthread calls.

void OSMutexProtocol::LockByCalls(OSMutex& m) {
  if (TryLockByCalls(m)) return;
  const int err = pthread_mutex_lock(&m.fMutex);
  if (err != 0) Fail("pthread_mutex_lock", err);
  Taken(m, pthread_self());
}

void OSMutexProtocol::UnlockByCalls(OSMutex& m) {
  DescribeToRaceDetectors(m);
  if (!HeldBy(m, pthread_self())) return;
  if (--m.fHolderCount != 0) return;
  SetHolder(m, 0);
  const int err = pthread_mutex_unlock(&m.fMutex);
  if (err != 0) Fail("pthread_mutex_unlock", err);
}

bool OSMutexProtocol::TryLockByCalls(OSMutex& m) {
  DescribeToRaceDetectors(m);
  const pthread_t self = pthread_self();
  const int err = pthread_mutex_trylock(&m.fMutex);
  if (err == EBUSY) {
    if (!HeldBy(m, self)) return false;
    ++m.fHolderCount;
    return true;
  }
  if (err != 0) Fail("pthread_mutex_trylock", err);
  Taken(m, self);
  return true;
}

// ---- The fast path's slow parts, and the choice of path.

#if OS_MUTEX_FAST_PATH

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
#  if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#  elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#  endif
}

}  // namespace

int OSGlibc::sDrivenKind = -1;
uintptr_t OSGlibc::sThreadPointerOffset = 0;

void OSMutexProtocol::LockTakenWord(OSMutex& m) {
  const pthread_t self = OSGlibc::CurrentThread();
  if (HeldBy(m, self)) {
    ++m.fHolderCount;
    return;
  }
  int backoff = 1;
  for (int spent = 0; spent < kSpinPauses; spent += backoff) {
    for (int i = 0; i < backoff; ++i) CpuRelax();
    if (OSGlibc::IsFree(m.fMutex) && OSGlibc::TryAcquire(m.fMutex)) return Taken(m, self);
    if (backoff < kMaxBackoff) backoff *= 2;
  }
  const int err = pthread_mutex_lock(&m.fMutex);
  if (err != 0) Fail("pthread_mutex_lock", err);
  Taken(m, self);
}

void OSMutexProtocol::WakeWaiter(int& word, int lockWord) {
  if (lockWord != 2) Fail("unlock of a free lock", EPERM);
  const int err = OSGlibc::WakeOne(word);
  if (err != 0) Fail("futex wake", err);
}

void OSMutexProtocol::ChoosePath() {
  // A build for the tests of the pthread-call path hands the self-test a
  // mutex of another kind, so that it fails as it would on a glibc whose
  // protocol differs.
#  if defined(SAFESTDLIB_TEST_ONLY_FAIL_SELF_TEST)
  pthread_mutex_t scratch = PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP;
#  else
  pthread_mutex_t scratch = PTHREAD_MUTEX_INITIALIZER;
#  endif
  if (OSGlibc::ProtocolMatches(scratch))
    __atomic_store_n(&OSGlibc::sDrivenKind, 0, __ATOMIC_RELAXED);
}

#else

void OSMutexProtocol::ChoosePath() {}

#endif  // OS_MUTEX_FAST_PATH

__attribute__((constructor(101))) static void OSChooseLockPath() { OSMutexProtocol::ChoosePath(); }

// ---- A thread that ends holding the mutex.

__thread OSThreadEndLink OSMutexProtocol::sThreadEnd
    __attribute__((tls_model("initial-exec"))) = {false, nullptr};

void OSMutexProtocol::ArrangeThreadEnd() {
#if OS_MUTEX_FAST_PATH && OS_GLIBC_THREAD_POINTER
  // The distance from the thread pointer to the descriptor is measured in
  // one thread and holds for all; a thread where it did not would be taken
  // for another.
  if (__atomic_load_n(&OSGlibc::sDrivenKind, __ATOMIC_RELAXED) == 0 &&
      OSGlibc::CurrentThread() != pthread_self())
    Fail("thread pointer check", EINVAL);
#endif
  // Before a copy has taken charge (static constructors that run before
  // the library's), while the C library has no key or no room for the
  // value, the thread tries again at a later first level.
  OSProcessRecord& process = OSPrivate::sProcess;
  if (__atomic_load_n(&process.fThreadEndState, __ATOMIC_ACQUIRE) != 2) {
    bool (*const make)() = __atomic_load_n(&process.fMakeThreadEndKey, __ATOMIC_ACQUIRE);
    if (make == nullptr || !make()) return;
  }
  sThreadEnd.fNext = static_cast<OSThreadEndLink*>(pthread_getspecific(process.fThreadEndKey));
  if (pthread_setspecific(process.fThreadEndKey, &sThreadEnd) != 0) return;
  sThreadEnd.fArranged = true;
}

UInt32 OSMutexProtocol::ReleaseForEndedThread(OSMutex& m) {
  if (!HeldBy(m, pthread_self())) return 0;
  const UInt32 levels = m.fHolderCount;
  m.fHolderCount = 1;
  Unlock(m);
  return levels;
}

#if defined(SAFESTDLIB_VALGRIND)
void OSMutexProtocol::DescribeToRaceDetectors(const OSMutex& m) {
  VALGRIND_HG_DISABLE_CHECKING(&m.fHolder, sizeof m.fHolder);
  DRD_IGNORE_VAR(m.fHolder);
}
#endif

void OSMutexProtocol::Fail(const char* call, int err) {
  fprintf(stderr, "OSMutex: %s failed: %s\n", call, strerror(err));
  abort();
}
