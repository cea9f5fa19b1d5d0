/*
 * OSMutex.h: the host's recursive mutex and its scoped locker.
 *
 * OSMutex wraps a pthread mutex and records which thread holds it and how
 * many levels deep, so that the holder may lock it again. It is a constant
 * expression to construct, so a mutex with static storage is usable from
 * any static constructor, and it is never torn down, so it stays usable
 * while the process exits. How it locks is the library's own business:
 * Lock(), Unlock() and TryLock() call into it, so a host compiled against
 * this header carries nothing of the C library's mutex internals. Valid
 * C++11.
 */
#ifndef OSMutex_H
#define OSMutex_H

#include <pthread.h>

#include "OSHeaders.h"
#include "OSThreadAnnotations.h"

#if __cplusplus >= 201703L
#  define OS_NODISCARD [[nodiscard]]
#else
#  define OS_NODISCARD
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
  // Blocks until the calling thread holds the mutex: a waiter spins briefly
  // while the holder is likely to let go soon, then naps, then sleeps until
  // woken. Recursive: a holder returns at once, one level deeper. Aborts if
  // the pthread mutex fails.
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
  friend class OSMutexProtocol;

  // Defined in the library, which alone knows how the C library's mutex
  // works inside: a host compiled against this header never depends on it.
  void RecursiveLock() OS_ACQUIRE();
  void RecursiveUnlock() OS_RELEASE();
  Bool16 RecursiveTryLock() OS_TRY_ACQUIRE(true);

  // The holder's pthread_t and its levels beside the pthread mutex; what
  // each field holds, and who may touch it, is the library's lock protocol
  // (stated in its source, OSUtilities/internal/OSMutexProtocol.h).
  pthread_mutex_t fMutex;
  pthread_t fHolder;
  UInt32 fHolderCount;
};

// OSMutexLocker
//
// Holds one level of an OSMutex for the life of the object: locks in the
// constructor, unlocks in the destructor, on every way out of the scope,
// thread-cancellation unwinding included. A null mutex is never locked.
// clang before 12 takes a standard attribute in a class head only after the
// GNU-style ones.
class OS_SCOPED_CAPABILITY OS_NODISCARD OSMutexLocker {
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
