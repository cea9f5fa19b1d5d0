// OSMutexProtocol.cpp: how OSMutex locks, out of line: the pthread-call
// path, the fast path's slow parts, and the choices made once at start-up
// (which path, and whether waiters spin). The uncontended paths are inline
// in OSMutexProtocol.h; the waits for another thread's hold are in
// OSMutexWaitWord.cpp and OSMutexWaitCalls.cpp; a thread's end in
// OSThreadEnd.cpp.

#include "OSUtilities/internal/OSMutexProtocol.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <sys/sysinfo.h>

#include "OSUtilities/internal/OSMutexWait.h"
#include "OSUtilities/internal/OSPlatform.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

// ---- Through the pthread calls.

bool OSMutexProtocol::TryTakeByCall(OSMutex& m) {
  const int err = pthread_mutex_trylock(&m.fMutex);
  if (err != 0 && err != EBUSY) Fail("pthread_mutex_trylock", err);
  return err == 0;
}

void OSMutexProtocol::LockByCalls(OSMutex& m) { (void)LockByCalls(m, false); }

bool OSMutexProtocol::LockByCalls(OSMutex& m, bool forCall) {
  if (TryLockByCalls(m)) return true;
  return WaitInCalls(m, pthread_self(), forCall);
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

// ---- The fast path's slow parts, and its start-up self-test.

__thread bool OSMutexProtocol::sFast __attribute__((tls_model("initial-exec"))) = false;

#if OS_MUTEX_FAST_PATH

int OSGlibc::sByCalls = 1;
uintptr_t OSGlibc::sThreadPointerOffset = 0;

void OSMutexProtocol::LockSlow(OSMutex& m) { (void)TakeSlow(m, false); }

bool OSMutexProtocol::LockSlowForCall(OSMutex& m) { return TakeSlow(m, true); }

bool OSMutexProtocol::TakeSlow(OSMutex& m, bool forCall) {
  if (OSGlibc::ByCalls()) return LockByCalls(m, forCall);
  if (!sThreadEnd.fArranged) ArrangeThreadEnd();
  const pthread_t self = OSGlibc::CurrentThread();
  if (!OSGlibc::TryAcquire(m.fMutex)) return WaitOnWord(m, self, forCall);
  Taken(m, self);
  return true;
}

bool OSMutexProtocol::TryLockSlow(OSMutex& m) {
  if (OSGlibc::ByCalls()) return TryLockByCalls(m);
  if (!OSGlibc::TryAcquire(m.fMutex)) return false;
  Taken(m, OSGlibc::CurrentThread());
  return true;
}

void OSMutexProtocol::UnlockNotHeld(OSMutex& m) {
  // Before the self-test has passed, the holder may be known only by
  // pthread_self().
  if (OSGlibc::ByCalls()) UnlockByCalls(m);
}

void OSMutexProtocol::ReleaseByCall(OSMutex& m) {
  const int err = pthread_mutex_unlock(&m.fMutex);
  if (err != 0) Fail("pthread_mutex_unlock", err);
}

void OSMutexProtocol::WakeWaiter(int& word) {
  // A word given back from kFree: nobody held it. Any other value is kTaken
  // left by a contended word, which only this thread may now free.
  if (__atomic_load_n(&word, __ATOMIC_RELAXED) < OSGlibc::kFree)
    Fail("unlock of a free lock", EPERM);
  // glibc's unlock wakes a sleeper for any value above kTaken.
  OSGlibc::ContendedGiven(word);
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
  if (OSGlibc::ProtocolMatches(scratch)) __atomic_store_n(&OSGlibc::sByCalls, 0, __ATOMIC_RELAXED);
}

#else

void OSMutexProtocol::ChoosePath() {}

#endif  // OS_MUTEX_FAST_PATH

// ---- The choices made once, at start-up.

// Whether the process may run on one CPU only: its affinity allows one, or
// only one is online. A holder then cannot run while its waiter spins.
static bool MayRunOnOneCpuOnly() {
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) <= 1) return true;
  return get_nprocs() <= 1;
}

bool OSMutexWait::sSpins = true;

__attribute__((constructor(101))) static void OSChooseHowToLock() {
  OSMutexProtocol::ChoosePath();
  if (MayRunOnOneCpuOnly()) __atomic_store_n(&OSMutexWait::sSpins, false, __ATOMIC_RELAXED);
}

// ---- A fork child's mutex, and the exit hold's wake.

void OSMutexProtocol::ResetInChild(OSMutex& m) {
  m.fMutex = pthread_mutex_t PTHREAD_MUTEX_INITIALIZER;
  SetHolder(m, pthread_t());
  m.fHolderCount = 0;
}

void OSMutexProtocol::WakeWaiters(OSMutex& m) {
#if OS_MUTEX_FAST_PATH
  const int err = OSGlibc::WakeAll(m.fMutex.__data.__lock);
  if (err != 0) Fail("futex wake", err);
#else
  (void)m;  // the routines' waiters in the pthread calls look again on their own
#endif
}

// ---- For the library's own tests, and for race detectors.

int OSMutexProtocol::SpinBudgetOf(const OSMutex& m) { return OSMutexWait::SpinBudgetFor(m); }

#if defined(SAFESTDLIB_VALGRIND)
void OSMutexProtocol::DescribeToRaceDetectors(const OSMutex& m) {
  VALGRIND_HG_DISABLE_CHECKING(&m.fHolder, sizeof m.fHolder);
  DRD_IGNORE_VAR(m.fHolder);
}
#endif
