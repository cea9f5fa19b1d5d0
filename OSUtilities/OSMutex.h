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
#  define OS_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#  define OS_UNLIKELY(x) (x)
#endif

class OS_CAPABILITY("mutex") SAFESTDLIB_API OSMutex {
 public:
  constexpr OSMutex() noexcept
      : fMutex(PTHREAD_MUTEX_INITIALIZER), fHolder(0), fHolderCount(0) {}

  // Leaves fMutex as it is. A default pthread mutex owns no resources on
  // Linux, and never destroying it keeps a mutex with static storage usable
  // by atexit handlers, static destructors and threads still running while
  // the process exits.
  ~OSMutex() = default;

  OSMutex(const OSMutex&) = delete;
  OSMutex& operator=(const OSMutex&) = delete;

  // Lock()
  //
  // Blocks until the calling thread holds the mutex. Recursive: a holder
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

 private:
  friend struct OSMutexTestPeer;

  void RecursiveLock() OS_ACQUIRE() OS_NO_THREAD_SAFETY_ANALYSIS;
  void RecursiveUnlock() OS_RELEASE() OS_NO_THREAD_SAFETY_ANALYSIS;
  Bool16 RecursiveTryLock() OS_TRY_ACQUIRE(true) OS_NO_THREAD_SAFETY_ANALYSIS;

  // Blocks for fMutex once the fast path found it taken.
  void LockContended();
  // Reports a pthread call that cannot fail on a sound mutex, and aborts.
  [[noreturn]] static void Fail(const char* call, int err);

  // fHolder is read by threads that do not hold the mutex, so every access
  // is atomic. A relaxed load suffices: only the holder ever stores its own
  // id there, so a thread reads its own id exactly when it is the holder.
  bool HeldBy(pthread_t self) const { return __atomic_load_n(&fHolder, __ATOMIC_RELAXED) == self; }
  void SetHolder(pthread_t holder) { __atomic_store_n(&fHolder, holder, __ATOMIC_RELAXED); }

  pthread_mutex_t fMutex;
  pthread_t fHolder;     // 0 when nobody holds the mutex
  UInt32 fHolderCount;   // levels taken by fHolder; touched only by it
};

inline void OSMutex::RecursiveLock() {
  const pthread_t self = pthread_self();
  if (HeldBy(self)) {
    ++fHolderCount;
    return;
  }
  if (OS_UNLIKELY(pthread_mutex_trylock(&fMutex) != 0)) LockContended();
  SetHolder(self);
  fHolderCount = 1;
}

inline void OSMutex::RecursiveUnlock() {
  if (!HeldBy(pthread_self())) return;
  if (--fHolderCount != 0) return;
  SetHolder(0);
  const int err = pthread_mutex_unlock(&fMutex);
  if (OS_UNLIKELY(err != 0)) Fail("pthread_mutex_unlock", err);
}

inline Bool16 OSMutex::RecursiveTryLock() {
  const pthread_t self = pthread_self();
  if (HeldBy(self)) {
    ++fHolderCount;
    return true;
  }
  const int err = pthread_mutex_trylock(&fMutex);
  if (err != 0) {
    if (OS_UNLIKELY(err != EBUSY)) Fail("pthread_mutex_trylock", err);
    return false;
  }
  SetHolder(self);
  fHolderCount = 1;
  return true;
}

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
