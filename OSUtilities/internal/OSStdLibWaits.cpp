// OSStdLibWaits.cpp: what the waits for the standard-library mutex add to
// taking it (OSMutexWait.h): the learned spin budget, the contention
// figures, the host's tracer and the stall line, and the routines' bound
// once the exit hold is over. The stall line and the tracer act on no
// cancellation: only the printers' C library calls are cancellation points.
//
// The figures, the tracer and the stall threshold live where this copy's
// start-up chose (OSProcessView::fWaits): the process record that every
// copy shares, or this copy's own. The budget is this copy's. glibc keeps
// its adaptive mutex's in the mutex (__spins), but this mutex's __spins is
// glibc's own field (on 32-bit targets it shares its storage with the
// robust list), and the process record grows only by a new, versioned
// layout that every copy must agree on. The budget is only a hint, which
// the copies of earlier releases neither keep nor read: a copy that learns
// alone merely learns from its own waiters.

#if defined(__cpp_exceptions) && defined(__has_include)
#  if __has_include(<cxxabi.h>)
#    include <cxxabi.h>  // abi::__forced_unwind, with libstdc++
#  endif
#endif
#include <pthread.h>
#include <stdio.h>
#include <unistd.h>

#include "OSUtilities/OSMutex.h"
#include "OSUtilities/internal/OSClock.h"
#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSMutexWait.h"
#include "OSUtilities/internal/OSProcessRecord.h"

#if defined(SAFESTDLIB_VALGRIND)
#  include <valgrind/drd.h>
#  include <valgrind/helgrind.h>
#endif

namespace {

OSMutexWaitHooks sStdLibHooks;

#if defined(SAFESTDLIB_VALGRIND)
// Tells valgrind's race detectors that the budget is read and written
// atomically, without the mutex: a hint, which any thread may move.
__attribute__((constructor)) void DescribeSpinBudget() {
  VALGRIND_HG_DISABLE_CHECKING(&sStdLibHooks.fSpinBudget, sizeof sStdLibHooks.fSpinBudget);
  DRD_IGNORE_VAR(sStdLibHooks.fSpinBudget);
}
#endif

#if defined(__cpp_exceptions)
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
#endif

// Holds off cancellation for its life, so that the stall line's write and
// the tracer, which may call the routines, act on no cancellation: one
// that arrives while a thread waits acts at its next cancellation point
// after the routine, and the waiter count and the stall mark are always
// put back.
class NoCancellation {
 public:
  NoCancellation() {
    const int err = pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &fWas);
    if (err != 0) OSFailed("OSMutex", "pthread_setcancelstate", err);
  }
  ~NoCancellation() {
    int disabled = 0;
    const int err = pthread_setcancelstate(fWas, &disabled);
    if (err != 0) OSFailed("OSMutex", "pthread_setcancelstate", err);
  }
  NoCancellation(const NoCancellation&) = delete;
  NoCancellation& operator=(const NoCancellation&) = delete;

 private:
  int fWas = PTHREAD_CANCEL_ENABLE;
};

using Tracer = void (*)(const char* message, const void* mutex, UInt64 waitNanos);

// Calls the host's tracer for m, just taken after waited ns. A tracer's
// exception is contained: it would otherwise cross the C-linkage routine
// that was locking, and leave the level it had just taken held for good,
// with every other thread waiting behind it. It is dropped and said once.
// The tracer runs with cancellation held off; a pthread_exit() that
// unwinds through it goes on, without the level.
void CallTracer(Tracer tracer, OSMutex& m, UInt64 waited) {
  [[maybe_unused]] NoCancellation noCancellation;
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

}  // namespace

OSMutexWaitHooks* OSMutexWaitHooks::Of(const OSMutex& m) {
  return &m == OSPrivate::sView.fMutex ? &sStdLibHooks : nullptr;
}

int OSMutexWaitHooks::SpinBudget() const { return __atomic_load_n(&fSpinBudget, __ATOMIC_RELAXED); }

void OSMutexWaitHooks::Spun(int spent, bool won) {
  const int budget = __atomic_load_n(&fSpinBudget, __ATOMIC_RELAXED);
  const int target = won ? 2 * spent : OSMutexSpin::kMinSpin;
  int next = budget + (target - budget) / 8;
  if (next < OSMutexSpin::kMinSpin) next = OSMutexSpin::kMinSpin;
  if (next > OSMutexSpin::kMaxSpin) next = OSMutexSpin::kMaxSpin;
  __atomic_store_n(&fSpinBudget, next, __ATOMIC_RELAXED);
}

OSMutexWaitHooks::Wait OSMutexWaitHooks::Began() {
  OSProcessWaits* const waits = OSPrivate::sView.fWaits;
  const UInt64 began = OSNowNanos();
  __atomic_fetch_add(&waits->fWaiters, 1, __ATOMIC_RELAXED);
  return {waits, began};
}

UInt32 OSMutexWaitHooks::StallMillis(const Wait& wait) const {
  return __atomic_load_n(&wait.fWaits->fStallMillis, __ATOMIC_RELAXED);
}

void OSMutexWaitHooks::Stalled(const Wait& wait, const OSMutex& m, UInt32 stallMillis) {
  OSProcessWaits& process = *wait.fWaits;
  const pthread_t holder = OSMutexProtocol::HolderOf(m);
  pthread_t none = pthread_t();
  if (!__atomic_compare_exchange_n(&process.fStallReported, &none, holder, false, __ATOMIC_RELAXED,
                                   __ATOMIC_RELAXED))
    return;
  [[maybe_unused]] NoCancellation noCancellation;
  fprintf(stderr,
          "SafeStdLib: waited %u ms for the standard-library mutex; %d thread(s) wait; "
          "held by thread 0x%lx\n",
          stallMillis, __atomic_load_n(&process.fWaiters, __ATOMIC_RELAXED),
          static_cast<unsigned long>(holder));
}

void OSMutexWaitHooks::Ended(const Wait& wait, OSMutex& m, bool blocked) {
  // Holding the mutex now: the figures are the mutex's to guard.
  OSProcessWaits& process = *wait.fWaits;
  __atomic_fetch_sub(&process.fWaiters, 1, __ATOMIC_RELAXED);
  const UInt64 waited = OSNowNanos() - wait.fBegan;
  ++process.fContendedLocks;
  process.fWaitNanos += waited;
  if (waited > process.fLongestWaitNanos) process.fLongestWaitNanos = waited;
  if (blocked) ++process.fKernelWaits;
  __atomic_store_n(&process.fStallReported, pthread_t(), __ATOMIC_RELAXED);
  if (auto* const tracer = __atomic_load_n(&process.fTracer, __ATOMIC_ACQUIRE))
    CallTracer(tracer, m, waited);
}

// When this copy's routines stop waiting for the mutex that the exit
// holds: kAfterExitHoldMillis after the first of them saw the hold over,
// once for the whole exit, not once a call, so that a thread that calls a
// routine again and again while it holds a stream lets the final flush
// have the stream as often as a bare call would. A fork child's exit has a
// deadline of its own: one set in another process is not this one's.
namespace {
UInt64 sExitGiveUpAt = 0;
pid_t sExitGiveUpIn = 0;
}  // namespace

UInt64 OSMutexWaitHooks::GiveUpAt(UInt64 now) const {
  if (__atomic_load_n(&OSPrivate::sView.fExit->fExitHold, __ATOMIC_ACQUIRE) != kOSExitHoldOver)
    return OSMutexSleep::kNever;
  const pid_t process = getpid();
  if (__atomic_load_n(&sExitGiveUpIn, __ATOMIC_ACQUIRE) != process) {
    __atomic_store_n(&sExitGiveUpAt, now + UInt64{OSMutexProtocol::kAfterExitHoldMillis} * 1000000u,
                     __ATOMIC_RELAXED);
    __atomic_store_n(&sExitGiveUpIn, process, __ATOMIC_RELEASE);
  }
  return __atomic_load_n(&sExitGiveUpAt, __ATOMIC_RELAXED);
}

void OSMutexWaitHooks::GaveUp(const Wait& wait) {
  // Without the mutex: the figures are its to guard, and stay as they are.
  __atomic_fetch_sub(&wait.fWaits->fWaiters, 1, __ATOMIC_RELAXED);
}
