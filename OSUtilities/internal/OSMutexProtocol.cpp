// OSMutexProtocol.cpp: how OSMutex locks, out of line: the contended and
// pthread-call paths, and the choice between them at start-up. The
// uncontended paths are inline in OSMutexProtocol.h; a thread's end is in
// OSThreadEnd.cpp.

#if defined(__cpp_exceptions) && defined(__has_include)
#  if __has_include(<cxxabi.h>)
#    include <cxxabi.h>  // abi::__forced_unwind, with libstdc++
#  endif
#endif
#include <stdio.h>
#include <time.h>

#include "OSUtilities/internal/OSClock.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessRecord.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

// ---- Waiting for another thread.

namespace {

// A waiter spins only while spinning is likely to win: while nobody sleeps
// on the lock word (a sleeper means a hold outlasted an earlier spin), and
// for at most sSpinBudget pauses, trying at growing intervals up to
// kMaxBackoff pauses apart, so that a holder that calls again at once keeps
// its cache line. The budget follows the spins of this copy's waiters: it
// moves an eighth of the way towards twice what a winning spin took, and
// towards kMinSpin after a spin that lost. Short holds are then caught
// without a sleep and a wake, two system calls; long ones (a slow write)
// cost the waiter hardly a core.
constexpr int kMaxBackoff = 32;
// A waiter whose spin lost naps on the word, unmarked, kNaps times from
// kFirstNapNanos on, each nap twice the last (about 1.3 ms in all), and
// spins again after each; only then does it mark the word and sleep until
// the holder wakes it.
constexpr UInt64 kFirstNapNanos = 20 * 1000;
constexpr int kNaps = 6;
constexpr int kMinSpin = 16;
constexpr int kMaxSpin = 2048;
int sSpinBudget = 128;

#if defined(SAFESTDLIB_VALGRIND)
// Tells valgrind's race detectors that the budget is read and written
// atomically, without the mutex: a hint, which any thread may move.
__attribute__((constructor)) void DescribeSpinBudget() {
  VALGRIND_HG_DISABLE_CHECKING(&sSpinBudget, sizeof sSpinBudget);
  DRD_IGNORE_VAR(sSpinBudget);
}
#endif

void AdaptSpin(int spent, bool won) {
  const int budget = __atomic_load_n(&sSpinBudget, __ATOMIC_RELAXED);
  const int target = won ? 2 * spent : kMinSpin;
  int next = budget + (target - budget) / 8;
  if (next < kMinSpin) next = kMinSpin;
  if (next > kMaxSpin) next = kMaxSpin;
  __atomic_store_n(&sSpinBudget, next, __ATOMIC_RELAXED);
}

}  // namespace

void OSMutexProtocol::WaitFor(OSMutex& m, pthread_t self, bool byCalls) {
  const bool stdLib = &m == OSPrivate::sView.fMutex;
  OSProcessWaits& process = *OSPrivate::sView.fWaits;
  const UInt64 start = stdLib ? OSNowNanos() : 0;
  if (stdLib) __atomic_fetch_add(&process.fWaiters, 1, __ATOMIC_RELAXED);
  const bool blocked = !Spin(m, byCalls);
  if (blocked) Block(m, stdLib, byCalls);
  Taken(m, self);
  if (!stdLib) return;
  // Holding the mutex now: the figures are the mutex's to guard.
  __atomic_fetch_sub(&process.fWaiters, 1, __ATOMIC_RELAXED);
  const UInt64 waited = OSNowNanos() - start;
  ++process.fContendedLocks;
  process.fWaitNanos += waited;
  if (waited > process.fLongestWaitNanos) process.fLongestWaitNanos = waited;
  if (blocked) ++process.fKernelWaits;
  __atomic_store_n(&process.fStallReported, pthread_t(), __ATOMIC_RELAXED);
  if (auto* const tracer = __atomic_load_n(&process.fTracer, __ATOMIC_ACQUIRE))
    CallTracer(tracer, m, waited);
}

bool OSMutexProtocol::Spin(OSMutex& m, bool byCalls) {
  (void)byCalls;  // only the fast path's lock word can be watched
  const int budget = __atomic_load_n(&sSpinBudget, __ATOMIC_RELAXED);
  int backoff = 1;
  for (int spent = 0; spent < budget; spent += backoff) {
    for (int i = 0; i < backoff; ++i) OSPlatform::CpuRelax();
#if OS_MUTEX_FAST_PATH
    if (!byCalls) {
      const int word = __atomic_load_n(&m.fMutex.__data.__lock, __ATOMIC_RELAXED);
      if (word == OSGlibc::kContended) break;
      if (word == OSGlibc::kFree && OSGlibc::TryAcquire(m.fMutex)) {
        AdaptSpin(spent, true);
        return true;
      }
    } else
#endif
        if (TryTakeByCall(m)) {
      AdaptSpin(spent, true);
      return true;
    }
    if (backoff < kMaxBackoff) backoff *= 2;
  }
  AdaptSpin(budget, false);
  return false;
}

#if defined(__cpp_exceptions)
namespace {

// Gives back the level just taken if the tracer's frame is left by an
// unwinding (a cancellation inside a routine it called): the caller's
// locker never got the level to give back.
class GiveBackIfUnwound {
 public:
  explicit GiveBackIfUnwound(OSMutex& m) : fMutex(m) {}
  ~GiveBackIfUnwound() OS_NO_THREAD_SAFETY_ANALYSIS {
    if (fArmed) fMutex.Unlock();
  }
  GiveBackIfUnwound(const GiveBackIfUnwound&) = delete;
  GiveBackIfUnwound& operator=(const GiveBackIfUnwound&) = delete;
  void Disarm() { fArmed = false; }

 private:
  OSMutex& fMutex;
  bool fArmed = true;
};

}  // namespace
#endif

// A tracer's exception is contained: it would otherwise cross the C-linkage
// routine that was locking, and leave the level it had just taken held for
// good, with every other thread waiting behind it. It is dropped and said
// once. A cancellation that unwinds through the tracer goes on, without the
// level.
void OSMutexProtocol::CallTracer(Tracer tracer, OSMutex& m, UInt64 waited) {
#if defined(__cpp_exceptions)
  static bool sSaid = false;
  GiveBackIfUnwound giveBack(m);
  try {
    tracer("contended acquisition of the standard-library mutex", &m, waited);
#  if defined(__GLIBCXX__)
  } catch (abi::__forced_unwind&) {
    throw;
#  endif
  } catch (...) {
    if (!__atomic_exchange_n(&sSaid, true, __ATOMIC_RELAXED))
      fprintf(stderr,
              "SafeStdLib: the standard-library mutex's contention tracer threw; its "
              "exceptions are dropped\n");
  }
  giveBack.Disarm();
#else
  // Built without exceptions, the library cannot be unwound through: a
  // tracer's exception ends the process where it is thrown.
  tracer("contended acquisition of the standard-library mutex", &m, waited);
#endif
}

// Writes the stall line for the standard-library mutex, held by another
// thread for stallMillis ms of this one's wait: once per holder.
static void ReportStall(const OSMutex& m, OSProcessWaits& process, UInt32 stallMillis) {
  const pthread_t holder = OSMutexProtocol::HolderOf(m);
  pthread_t none = pthread_t();
  if (__atomic_compare_exchange_n(&process.fStallReported, &none, holder, false, __ATOMIC_RELAXED,
                                  __ATOMIC_RELAXED))
    fprintf(stderr,
            "SafeStdLib: waited %u ms for the standard-library mutex; %d thread(s) wait; "
            "held by thread 0x%lx\n",
            stallMillis, __atomic_load_n(&process.fWaiters, __ATOMIC_RELAXED),
            static_cast<unsigned long>(holder));
}

// Sleeps until the calling thread has m: on the lock word, as glibc's own
// lock does, or (byCalls) in the pthread calls. For the standard-library
// mutex with a stall threshold, wakes at the threshold to write the stall
// line, once per holder, and sleeps on.
void OSMutexProtocol::Block(OSMutex& m, bool stdLib, bool byCalls) {
  (void)byCalls;  // only the fast path sleeps on the lock word
  OSProcessWaits& process = *OSPrivate::sView.fWaits;
  const UInt32 stallMillis = stdLib ? __atomic_load_n(&process.fStallMillis, __ATOMIC_RELAXED) : 0;
  const UInt64 stallNanos = UInt64{stallMillis} * 1000000u;
#if OS_MUTEX_FAST_PATH
  if (!byCalls) {
    int& word = m.fMutex.__data.__lock;
    const UInt64 start = OSNowNanos();
    bool stallSaid = stallMillis == 0;
    // Naps first: a holder that takes the mutex again at once keeps it at
    // full speed, with no wake to make, and this thread tries again after
    // each nap. A sleeper marked on the word ends them.
    UInt64 nap = kFirstNapNanos;
    for (int round = 0; round < kNaps; ++round, nap *= 2) {
      if (__atomic_load_n(&word, __ATOMIC_RELAXED) == OSGlibc::kContended) break;
      bool woken = false;
      const int err = OSGlibc::Nap(word, nap, &woken);
      if (err != 0) Fail("futex wait", err);
      if (woken) break;
      if (Spin(m, false)) return;
      if (!stallSaid && OSNowNanos() - start >= stallNanos) {
        ReportStall(m, process, stallMillis);
        stallSaid = true;
      }
    }
    if (!stallSaid) {
      const UInt64 deadline = start + stallNanos;
      for (UInt64 now = OSNowNanos(); now < deadline; now = OSNowNanos()) {
        const int err = OSGlibc::TakeContended(word, deadline - now);
        if (err == 0) return;
        if (err != ETIMEDOUT) Fail("futex wait", err);
      }
      ReportStall(m, process, stallMillis);
    }
    const int err = OSGlibc::TakeContended(word, 0);
    if (err != 0) Fail("futex wait", err);
    return;
  }
#endif
  if (stallMillis != 0) {
    const UInt64 deadline = OSNowNanos(CLOCK_REALTIME) + stallNanos;
    const struct timespec at = {static_cast<time_t>(deadline / 1000000000u),
                                static_cast<long>(deadline % 1000000000u)};
    const int err = pthread_mutex_timedlock(&m.fMutex, &at);
    if (err == 0) return;
    if (err != ETIMEDOUT) Fail("pthread_mutex_timedlock", err);
    ReportStall(m, process, stallMillis);
  }
  const int err = pthread_mutex_lock(&m.fMutex);
  if (err != 0) Fail("pthread_mutex_lock", err);
}

// ---- Through the pthread calls.

bool OSMutexProtocol::TryTakeByCall(OSMutex& m) {
  const int err = pthread_mutex_trylock(&m.fMutex);
  if (err != 0 && err != EBUSY) Fail("pthread_mutex_trylock", err);
  return err == 0;
}

void OSMutexProtocol::LockByCalls(OSMutex& m) {
  if (TryLockByCalls(m)) return;
  WaitFor(m, pthread_self(), true);
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

int OSGlibc::sByCalls = 1;
uintptr_t OSGlibc::sThreadPointerOffset = 0;

void OSMutexProtocol::LockSlow(OSMutex& m) {
  if (OSGlibc::ByCalls()) return LockByCalls(m);
  if (!sThreadEnd.fArranged) ArrangeThreadEnd();
  const pthread_t self = OSGlibc::CurrentThread();
  if (OSGlibc::TryAcquire(m.fMutex))
    Taken(m, self);
  else
    WaitFor(m, self, false);
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

__attribute__((constructor(101))) static void OSChooseLockPath() { OSMutexProtocol::ChoosePath(); }

__thread bool OSMutexProtocol::sFast __attribute__((tls_model("initial-exec"))) = false;

#if defined(SAFESTDLIB_VALGRIND)
void OSMutexProtocol::DescribeToRaceDetectors(const OSMutex& m) {
  VALGRIND_HG_DISABLE_CHECKING(&m.fHolder, sizeof m.fHolder);
  DRD_IGNORE_VAR(m.fHolder);
}
#endif
