/*
 * OSMutex.h: the host's recursive mutex and its scoped locker.
 *
 * OSMutex wraps a pthread mutex and records which thread holds it and how
 * many levels deep, so that the holder may lock it again. It is a constant
 * expression to construct, so a mutex with static storage is usable from
 * any static constructor, and it is never torn down, so it stays usable
 * while the process exits. Valid C++11.
 */
#ifndef OSMutex_H
#define OSMutex_H

#include <errno.h>
#include <pthread.h>

#include "OSHeaders.h"
#include "OSThreadAnnotations.h"

#if __cplusplus >= 201703L
#  define OS_NODISCARD [[nodiscard]]
#else
#  define OS_NODISCARD
#endif

#if defined(__GNUC__)
#  define OS_LIKELY(x) __builtin_expect(!!(x), 1)
#  define OS_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#  define OS_LIKELY(x) (x)
#  define OS_UNLIKELY(x) (x)
#endif

#if defined(__GLIBC__) && (defined(__x86_64__) || defined(__i386__)) && defined(__has_builtin)
#  if __has_builtin(__builtin_thread_pointer)
#    define OS_THREAD_POINTER_IS_PTHREAD_SELF 1
#  endif
#endif
#ifndef OS_THREAD_POINTER_IS_PTHREAD_SELF
#  define OS_THREAD_POINTER_IS_PTHREAD_SELF 0
#endif

// The uncontended fast path works on glibc's own lock word. Defining
// SAFESTDLIB_PTHREAD_CALLS_ONLY (for tools that watch the pthread calls,
// such as valgrind's race detectors) makes every lock and unlock a pthread
// call instead; the whole program must then be built with it.
#if defined(__GLIBC__) && !defined(SAFESTDLIB_PTHREAD_CALLS_ONLY)
#  define OS_MUTEX_FAST_PATH 1
#else
#  define OS_MUTEX_FAST_PATH 0
#endif

class OS_CAPABILITY("mutex") SAFESTDLIB_API OSMutex {
 public:
// glibc's initializer spells its null list pointers as 0, which hosts that
// build with -Wzero-as-null-pointer-constant would otherwise see here.
#if defined(__GNUC__)
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wzero-as-null-pointer-constant"
#endif
  constexpr OSMutex() noexcept : fMutex(PTHREAD_MUTEX_INITIALIZER), fHolder(0), fHolderCount(0) {}
#if defined(__GNUC__)
#  pragma GCC diagnostic pop
#endif

  // Leaves fMutex as it is. A default pthread mutex owns no resources on
  // Linux, and never destroying it keeps a mutex with static storage usable
  // by atexit handlers, static destructors and threads still running while
  // the process exits.
  ~OSMutex() = default;

  OSMutex(const OSMutex&) = delete;
  OSMutex& operator=(const OSMutex&) = delete;

  // Lock()
  //
  // Blocks until the calling thread holds the mutex: a waiter looks again
  // at growing intervals for a short while, then sleeps. Recursive: a holder
  // returns at once, one level deeper. Aborts if the pthread mutex fails.
  void Lock() OS_ACQUIRE() { RecursiveLock(); }

  // Unlock()
  //
  // Gives up one level held by the calling thread; the last level releases
  // the mutex. A thread that does not hold the mutex releases nothing.
  // Never blocks and leaves errno as it was.
  void Unlock() OS_RELEASE() { RecursiveUnlock(); }

  // TryLock()
  //
  // Takes one level without blocking. Returns true when the calling thread
  // now holds the mutex (it may already have held it), false when another
  // thread holds it.
  Bool16 TryLock() OS_TRY_ACQUIRE(true) { return RecursiveTryLock(); }

  // IsHeldByCallerAgain()
  //
  // For a caller that holds the mutex: whether it holds more than one
  // level, that is, whether it held the mutex before its latest Lock().
  // Never blocks.
  Bool16 IsHeldByCallerAgain() const { return fHolderCount > 1; }

 private:
  friend struct OSMutexTestPeer;
  friend void OSReleaseForEndedThread(void*);

  void RecursiveLock() OS_ACQUIRE() OS_NO_THREAD_SAFETY_ANALYSIS;
  void RecursiveUnlock() OS_RELEASE() OS_NO_THREAD_SAFETY_ANALYSIS;
  Bool16 RecursiveTryLock() OS_TRY_ACQUIRE(true) OS_NO_THREAD_SAFETY_ANALYSIS;

  // Takes fMutex if it is free; never blocks.
  bool TryAcquire();
  // Takes fMutex once TryAcquire() has failed: spins briefly, then blocks.
  void AcquireContended();
  // Gives fMutex back.
  void Release();
  // Release() for a mutex taken inside pthread_mutex_lock() (or
  // pthread_mutex_trylock()).
  void ReleaseBlocked();
  // Release() that found the lock word at other than 1 (taken, nobody
  // asleep): wakes a thread asleep on it. Only the fast path has it.
  void WakeWaiter(int lockWord);
#if defined(SAFESTDLIB_VALGRIND)
  // Tells valgrind's race detectors that fHolder is read, atomically, by
  // threads that do not hold the mutex.
  void DescribeToRaceDetectors() const;
#else
  void DescribeToRaceDetectors() const {}
#endif
  // Whether the calling thread has arranged for the standard-library
  // mutex to be released if the thread ends while holding it; set by
  // ArrangeThreadEnd(). Read on every first level, so it is a plain
  // thread-local flag in the initial-exec model: one load, no call.
  static __thread bool sThreadEndArranged __attribute__((tls_model("initial-exec")));
  static void ArrangeThreadEnd();
  // Gives up every level that the calling thread, which is ending, still
  // holds; returns how many.
  UInt32 ReleaseForEndedThread();

  // Reports a pthread or futex call that cannot fail on a sound mutex, and
  // aborts.
  [[noreturn]] static void Fail(const char* call, int err);

  // The calling thread's pthread_t. With glibc on x86 that is the thread
  // pointer itself, which is cheaper to read than to ask for.
  static pthread_t CurrentThread() {
#if OS_THREAD_POINTER_IS_PTHREAD_SELF
    return reinterpret_cast<pthread_t>(__builtin_thread_pointer());
#else
    return pthread_self();
#endif
  }

  // fHolder is read by threads that do not hold the mutex, so every access
  // is atomic. A relaxed load suffices: only the holder ever stores its own
  // id there, so a thread reads its own id exactly when it is the holder.
  bool HeldBy(pthread_t self) const { return __atomic_load_n(&fHolder, __ATOMIC_RELAXED) == self; }
  void SetHolder(pthread_t holder) { __atomic_store_n(&fHolder, holder, __ATOMIC_RELAXED); }

  pthread_mutex_t fMutex;
  pthread_t fHolder;    // 0 when nobody holds the mutex
  UInt32 fHolderCount;  // levels taken by fHolder; touched only by it
};

inline void OSMutex::RecursiveLock() {
  DescribeToRaceDetectors();
  const pthread_t self = CurrentThread();
  // A thread that already holds the mutex fails the first try, so the
  // common, uncontended case never looks at the holder.
  if (OS_UNLIKELY(!TryAcquire())) {
    if (HeldBy(self)) {
      ++fHolderCount;
      return;
    }
    AcquireContended();
  }
  SetHolder(self);
  fHolderCount = 1;
  if (OS_UNLIKELY(!sThreadEndArranged)) ArrangeThreadEnd();
}

inline void OSMutex::RecursiveUnlock() {
  DescribeToRaceDetectors();
  if (!HeldBy(CurrentThread())) return;
  if (--fHolderCount != 0) return;
  SetHolder(0);
  Release();
}

inline Bool16 OSMutex::RecursiveTryLock() {
  DescribeToRaceDetectors();
  const pthread_t self = CurrentThread();
  if (!TryAcquire()) {
    if (!HeldBy(self)) return false;
    ++fHolderCount;
    return true;
  }
  SetHolder(self);
  fHolderCount = 1;
  if (OS_UNLIKELY(!sThreadEndArranged)) ArrangeThreadEnd();
  return true;
}

#if OS_MUTEX_FAST_PATH
// glibc's default mutex is one lock word: 0 free, 1 taken, 2 taken with
// threads asleep on it. An uncontended lock or unlock is one atomic
// instruction on that word, without a call. A thread that had to block took
// the mutex inside pthread_mutex_lock(), which recorded it as owner, and
// gives it back through pthread_mutex_unlock(), which clears that record.

inline bool OSMutex::TryAcquire() {
  int expected = 0;
  return __atomic_compare_exchange_n(&fMutex.__data.__lock, &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED);
}

inline void OSMutex::Release() {
  if (OS_UNLIKELY(fMutex.__data.__owner != 0)) {
    ReleaseBlocked();
    return;
  }
  const int lockWord = __atomic_exchange_n(&fMutex.__data.__lock, 0, __ATOMIC_RELEASE);
  if (OS_UNLIKELY(lockWord != 1)) WakeWaiter(lockWord);
}

#else  // !OS_MUTEX_FAST_PATH: the pthread calls throughout.

inline bool OSMutex::TryAcquire() {
  const int err = pthread_mutex_trylock(&fMutex);
  if (OS_UNLIKELY(err != 0 && err != EBUSY)) Fail("pthread_mutex_trylock", err);
  return err == 0;
}

inline void OSMutex::Release() { ReleaseBlocked(); }

#endif  // OS_MUTEX_FAST_PATH

// OSMutexLocker
//
// Holds one level of an OSMutex for the life of the object: locks in the
// constructor, unlocks in the destructor, on every way out of the scope,
// thread-cancellation unwinding included. A null mutex is never locked.
class OS_NODISCARD OS_SCOPED_CAPABILITY OSMutexLocker {
 public:
  explicit OSMutexLocker(OSMutex* inMutexP) OS_ACQUIRE(inMutexP) : fMutex(inMutexP) {
    if (fMutex != nullptr) fMutex->Lock();
  }
  ~OSMutexLocker() OS_RELEASE() {
    if (fMutex != nullptr) fMutex->Unlock();
  }

  OSMutexLocker(const OSMutexLocker&) = delete;
  OSMutexLocker& operator=(const OSMutexLocker&) = delete;

  // Take or give up one more level of the same mutex, for callers that
  // drop the lock inside the scope and take it back before leaving.
  void Lock() OS_ACQUIRE() {
    if (fMutex != nullptr) fMutex->Lock();
  }
  void Unlock() OS_RELEASE() {
    if (fMutex != nullptr) fMutex->Unlock();
  }

 private:
  OSMutex* fMutex;
};

#endif  // OSMutex_H
