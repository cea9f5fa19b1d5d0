// OSMutexProtocol.h: how OSMutex locks, for the library's own code.
//
// Private to the library; never installed. The uncontended paths are
// inline here; the pthread-call path, the fast path's slow parts and the
// start-up choices in OSMutexProtocol.cpp; the waits for another thread's
// hold in OSMutexWaitWord.cpp and OSMutexWaitCalls.cpp (OSMutexWait.h).
// OSMutex's out-of-line entries (OSMutex.cpp) and the routines that lock it
// inline (InternalStdLib.cpp) both use OSMutexProtocol, so the two can never
// disagree. On glibc the uncontended path drives the C library's lock word
// directly (OSMutexGlibc.h); everywhere else, and in builds that define
// SAFESTDLIB_PTHREAD_CALLS_ONLY (for tools that watch the pthread calls,
// such as valgrind's race detectors), every lock and unlock is a pthread
// call.
//
// The rules, stated here once (OSMutex.h, OSMutexGlibc.h and
// OSProcessRecord.h point here). Every copy of the library that takes the
// process's mutex keeps them, whichever way it locks: they are the lock
// protocol that copies share a mutex by (kOSMutexProtocol).
//
//   - The lock word, glibc's __lock, the pthread mutex's first int, is
//     kFree (0), kTaken (1) or kContended (2: taken, and threads may be
//     asleep on it, a private futex); glibc's unlock takes any value above
//     kTaken for kContended. The fast path takes a first level with one
//     compare-exchange from kFree to kTaken, and gives the last back with
//     one decrement, which leaves kFree unless a sleeper is marked; a
//     waiter that sleeps marks the word kContended and keeps it so while
//     it holds, so that its own unlock wakes the next sleeper.
//   - __owner is the taker's kernel thread id while the mutex is taken
//     inside a pthread call (pthread_mutex_lock() and _trylock() set it,
//     pthread_mutex_unlock() clears it), and 0 while the word is taken
//     directly. A mutex taken inside a pthread call is given back through
//     pthread_mutex_unlock(); one taken directly, through the word.
//   - fHolder is the holder's pthread_t, 0 while nobody holds the mutex.
//     Only the holder stores it: its own id once it has the word, 0 before
//     it gives the word back. Any thread may read it, atomically; a thread
//     reads its own id there exactly when it holds the mutex.
//   - fHolderCount is the number of levels fHolder holds, touched only by
//     fHolder: 1 when it takes the word, one more or one less a level.
//
// glibc 2.31 to 2.42 alike: nptl/pthread_mutex_lock.c (the
// PTHREAD_MUTEX_TIMED_NP case), nptl/pthread_mutex_trylock.c,
// nptl/pthread_mutex_unlock.c (__pthread_mutex_unlock_usercnt),
// nptl/lowlevellock.c and sysdeps/nptl/lowlevellock.h (the word's states,
// lll_lock and lll_unlock).
#ifndef OSMutexProtocol_H
#define OSMutexProtocol_H

#include <errno.h>
#include <pthread.h>
#include <stdio.h>

#include "OSUtilities/OSMutex.h"
#include "OSUtilities/internal/OSFail.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessRecord.h"

// The slow paths stay out of line, so that the inline fast path saves and
// restores no registers for them. The pthread-call path is the only path
// where the fast one is not built, so it is kept apart but not cold.
#define OS_SLOW_PATH __attribute__((noinline, cold))
#define OS_OUT_OF_LINE __attribute__((noinline))
#define OS_LIKELY(x) __builtin_expect(!!(x), 1)
#define OS_UNLIKELY(x) __builtin_expect(!!(x), 0)

#if OS_LINUX && OS_GLIBC && !defined(SAFESTDLIB_PTHREAD_CALLS_ONLY)
#  define OS_MUTEX_FAST_PATH 1
#  include "OSUtilities/internal/OSMutexGlibc.h"
#else
#  define OS_MUTEX_FAST_PATH 0
#endif

class OSMutexProtocol {
 public:
  // OSMutex::Lock(), Unlock() and TryLock(), inline.
  static void Lock(OSMutex& m) OS_ACQUIRE(m) OS_NO_THREAD_SAFETY_ANALYSIS;
  static void Unlock(OSMutex& m) OS_RELEASE(m) OS_NO_THREAD_SAFETY_ANALYSIS;
  static bool TryLock(OSMutex& m) OS_TRY_ACQUIRE(true, m) OS_NO_THREAD_SAFETY_ANALYSIS;

  // Lock() for the routines' own calls, the same but for one bound: once
  // the exit hold is over (kOSExitHoldOver), a wait for the
  // standard-library mutex ends kAfterExitHoldMillis after this copy first
  // saw the hold over, at the latest, and no later call waits. Returns
  // false when that has passed without the mutex (the exit holds it, and
  // the process is about to end); the caller then makes its call without
  // it, so that a thread that holds a stream which the C library's final
  // flush waits for cannot hang the exit. Otherwise true, holding a level.
  static bool LockForCall(OSMutex& m) OS_TRY_ACQUIRE(true, m) OS_NO_THREAD_SAFETY_ANALYSIS;
  static constexpr int kAfterExitHoldMillis = 500;

  // For a fork child whose forking thread could not take m (LockForCall()
  // gave up): m is left held by a thread that the child does not have, and
  // starts free.
  static void ResetInChild(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS;

  // Wakes every thread asleep on m's lock word, so that a waiter for it
  // sees that the exit hold is over. Never blocks.
  static void WakeWaiters(OSMutex& m);

  // Gives up every level that the calling thread, which is ending, still
  // holds; returns how many.
  static UInt32 ReleaseForEndedThread(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS;

  // Runs once per copy of the library, before ordinary static
  // constructors: chooses how this copy locks (see OSMutexGlibc.h).
  static void ChoosePath();

  // Whether the calling thread holds m. Never blocks.
  static bool HeldByCaller(const OSMutex& m) {
#if OS_MUTEX_FAST_PATH
    return HeldBy(m, OSGlibc::CurrentThread());
#else
    return HeldBy(m, pthread_self());
#endif
  }

  // m's private state, for the waits, the stall line and the library's own
  // tests.
  static pthread_t HolderOf(const OSMutex& m) {
    return __atomic_load_n(&m.fHolder, __ATOMIC_RELAXED);
  }
  static UInt32 LevelsOf(const OSMutex& m) { return m.fHolderCount; }
  static pthread_mutex_t& RawOf(OSMutex& m) { return m.fMutex; }

  // The pauses a waiter for m spins for before it naps, now: 0 where the
  // process may run on one CPU only, the learned budget for the
  // standard-library mutex, a fixed one for every other (OSMutexWait.h).
  // For the library's own tests. Never blocks.
  static int SpinBudgetOf(const OSMutex& m);

 private:
  // Every lock, unlock and try through the pthread calls; LockByCalls()
  // with forCall is LockForCall()'s, and says whether it took m.
  OS_OUT_OF_LINE static void LockByCalls(OSMutex& m);
  OS_OUT_OF_LINE static bool LockByCalls(OSMutex& m, bool forCall);
  OS_OUT_OF_LINE static void UnlockByCalls(OSMutex& m);
  OS_OUT_OF_LINE static bool TryLockByCalls(OSMutex& m);
  // The fast path's lock and try of a first level, once the thread-local
  // check or the word's first try has failed: arranges the thread's end,
  // takes the word, or the pthread calls' way before the self-test has
  // passed; the lock waits for another thread's hold with WaitOnWord().
  OS_SLOW_PATH static void LockSlow(OSMutex& m);
  OS_SLOW_PATH static bool LockSlowForCall(OSMutex& m);
  static bool TakeSlow(OSMutex& m, bool forCall);
  OS_SLOW_PATH static bool TryLockSlow(OSMutex& m);
  // Lock() and LockForCall(), inline: kForCall bounds the wait.
  template <bool kForCall>
  static bool Take(OSMutex& m);
  // The fast path's unlock by a thread that it did not find holding m.
  OS_SLOW_PATH static void UnlockNotHeld(OSMutex& m);
  // The last level's release through pthread_mutex_unlock().
  OS_SLOW_PATH static void ReleaseByCall(OSMutex& m);
  // Takes m, held by another thread, for self: spins while that is likely
  // to win, then sleeps until the holder lets go. On the lock word
  // (OSMutexWaitWord.cpp), by the fast path; in the pthread calls
  // (OSMutexWaitCalls.cpp), by the pthread-call path. forCall: a
  // LockForCall()'s wait, which gives up at the exit's deadline (then
  // false, nothing taken or counted).
  static bool WaitOnWord(OSMutex& m, pthread_t self, bool forCall);
  static bool WaitInCalls(OSMutex& m, pthread_t self, bool forCall);
  // pthread_mutex_trylock() of m's pthread mutex; true when it took it.
  static bool TryTakeByCall(OSMutex& m);
  // The fast path's unlock of a lock word that was other than kTaken.
  OS_SLOW_PATH static void WakeWaiter(int& word);

  static bool HeldBy(const OSMutex& m, pthread_t self) {
    // Only the holder ever stores its own id there, so a thread reads its
    // own id exactly when it is the holder, whatever a racing store of
    // another thread leaves visible: no ordering is needed. Outside
    // ThreadSanitizer the load is plain, so that the compiler folds it
    // into the comparison; a pointer-sized aligned load is never torn on
    // the targets the fast path is built for.
#if OS_TSAN
    return __atomic_load_n(&m.fHolder, __ATOMIC_RELAXED) == self;
#else
    return m.fHolder == self;
#endif
  }
  static void SetHolder(OSMutex& m, pthread_t holder) {
    __atomic_store_n(&m.fHolder, holder, __ATOMIC_RELAXED);
  }
  // The first level is taken.
  static void Taken(OSMutex& m, pthread_t self) {
    SetHolder(m, self);
    m.fHolderCount = 1;
    if (OS_UNLIKELY(!sThreadEnd.fArranged)) ArrangeThreadEnd();
  }
  // The fast path's unlock of the last level.
  static void Release(OSMutex& m);

  // Whether the calling thread may take a first level through this copy's
  // fast path without a call: it has arranged its end (sThreadEnd) and the
  // self-test has passed. One thread-local load on each first level.
  static __thread bool sFast __attribute__((tls_model("initial-exec")));

  // Whether the calling thread has arranged, through this copy, for the
  // standard-library mutex to be released if the thread ends while holding
  // it. Read on the slow paths' first levels (the fast path reads sFast).
  // Static TLS stays the thread's for its whole life, so the key's
  // destructor may clear it even after this copy has been unloaded.
  static __thread OSThreadEndLink sThreadEnd __attribute__((tls_model("initial-exec")));
  OS_SLOW_PATH static void ArrangeThreadEnd();

#if defined(SAFESTDLIB_VALGRIND)
  // Tells valgrind's race detectors that fHolder is read, atomically, by
  // threads that do not hold the mutex.
  static void DescribeToRaceDetectors(const OSMutex& m);
#else
  static void DescribeToRaceDetectors(const OSMutex&) {}
#endif

  // Reports a pthread or futex call that cannot fail on a sound mutex, and
  // aborts.
  [[noreturn]] static void Fail(const char* call, int err) { OSFailed("OSMutex", call, err); }
};

#if OS_MUTEX_FAST_PATH

// A thread that holds m takes and gives back a level with plain loads and
// stores: the holder's own id, compared first, is what tells it so. Only a
// first level touches the lock word, with one atomic step each way.
template <bool kForCall>
inline bool OSMutexProtocol::Take(OSMutex& m) {
  const pthread_t self = OSGlibc::CurrentThread();
  if (HeldBy(m, self)) {
    ++m.fHolderCount;
    return true;
  }
  if (OS_UNLIKELY(!sFast) || OS_UNLIKELY(!OSGlibc::TryAcquire(m.fMutex))) {
    if constexpr (kForCall) return LockSlowForCall(m);
    LockSlow(m);
    return true;
  }
  SetHolder(m, self);
  m.fHolderCount = 1;
  return true;
}

inline void OSMutexProtocol::Lock(OSMutex& m) { (void)Take<false>(m); }
inline bool OSMutexProtocol::LockForCall(OSMutex& m) { return Take<true>(m); }

inline void OSMutexProtocol::Unlock(OSMutex& m) {
  if (OS_UNLIKELY(!HeldBy(m, OSGlibc::CurrentThread()))) return UnlockNotHeld(m);
  if (--m.fHolderCount != 0) return;
  SetHolder(m, 0);
  Release(m);
}

inline bool OSMutexProtocol::TryLock(OSMutex& m) {
  const pthread_t self = OSGlibc::CurrentThread();
  if (HeldBy(m, self)) {
    ++m.fHolderCount;
    return true;
  }
  if (OS_UNLIKELY(!sFast)) return TryLockSlow(m);
  if (!OSGlibc::TryAcquire(m.fMutex)) return false;
  SetHolder(m, self);
  m.fHolderCount = 1;
  return true;
}

inline void OSMutexProtocol::Release(OSMutex& m) {
  if (OS_UNLIKELY(OSGlibc::ReleaseByCall(m.fMutex))) return ReleaseByCall(m);
  if (OS_UNLIKELY(!OSGlibc::ReleaseWord(m.fMutex))) WakeWaiter(m.fMutex.__data.__lock);
}

#else  // !OS_MUTEX_FAST_PATH

inline void OSMutexProtocol::Lock(OSMutex& m) { LockByCalls(m); }
inline bool OSMutexProtocol::LockForCall(OSMutex& m) { return LockByCalls(m, true); }
inline void OSMutexProtocol::Unlock(OSMutex& m) { UnlockByCalls(m); }
inline bool OSMutexProtocol::TryLock(OSMutex& m) { return TryLockByCalls(m); }

#endif  // OS_MUTEX_FAST_PATH

// OSCallLocker
//
// Holds the mutex for one C library call that cannot block, be cancelled
// or call back into the host: takes a level unless the calling thread
// already holds one, which then holds the mutex through the call. A caller
// that holds the mutex pays a comparison, and no level. Its wait is
// LockForCall()'s: when Without(), the bound after the exit hold has
// passed, nothing is held, and the call must be one that is safe without
// the mutex. Its unlock then releases nothing, as any unlock by a thread
// that does not hold the mutex, so a routine that makes the same call
// either way pays nothing for the bound.
class OS_SCOPED_CAPABILITY OSCallLocker {
 public:
  explicit OSCallLocker(OSMutex* inMutexP) OS_ACQUIRE(inMutexP)
      : fMutex(*inMutexP), fTook(!OSMutexProtocol::HeldByCaller(*inMutexP)) {
    if (fTook) fWithout = !OSMutexProtocol::LockForCall(fMutex);
  }
  ~OSCallLocker() OS_RELEASE() {
    if (fTook) OSMutexProtocol::Unlock(fMutex);
  }

  OSCallLocker(const OSCallLocker&) = delete;
  OSCallLocker& operator=(const OSCallLocker&) = delete;

  bool Without() const { return fWithout; }

 private:
  OSMutex& fMutex;
  const bool fTook;
  bool fWithout = false;
};

#endif  // OSMutexProtocol_H
