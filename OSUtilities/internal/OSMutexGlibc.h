// OSMutexGlibc.h: glibc's default mutex, driven without a call.
//
// Private to the library; never installed, and included only where
// OSMutexProtocol.h chose it: glibc on Linux. Everything that depends on
// glibc's private layout of pthread_mutex_t, or on its thread pointer, is
// here. The layout is checked when the library is compiled and the protocol
// when it starts (ProtocolMatches()), so a glibc that differs is driven
// through the pthread calls instead.
//
// The rules this code keeps on the lock word and __owner are stated once,
// with the glibc files they come from, at the top of OSMutexProtocol.h. The
// thread pointer and pthread_self(): sysdeps/<arch>/nptl/tls.h, glibc 2.31
// to 2.42 (x86: the pointer is the descriptor; ARM: the descriptor lies
// just below it).
#ifndef OSMutexGlibc_H
#define OSMutexGlibc_H

#include <errno.h>
#include <linux/futex.h>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <type_traits>

#include "OSUtilities/internal/OSPlatform.h"

namespace OSGlibc {

// ---- What the fast path reads, checked against the headers it is built
// with.

using LockWord = decltype(pthread_mutex_t{}.__data.__lock);

// The lock word is the mutex's first int, and the initializer the host's
// constant-initialised OSMutex uses leaves it, the owner and the kind at 0.
constexpr bool IsDrivableLayout(size_t lockOffset, size_t lockSize, bool lockIsInt) {
  return lockOffset == 0 && lockSize == sizeof(int) && lockIsInt;
}
constexpr bool IsDrivableInitializer(const pthread_mutex_t& m) {
  return m.__data.__lock == 0 && m.__data.__count == 0 && m.__data.__owner == 0 &&
         m.__data.__kind == 0;
}
static_assert(IsDrivableLayout(offsetof(pthread_mutex_t, __data.__lock), sizeof(LockWord),
                               std::is_same_v<LockWord, int>),
              "glibc's lock word is not the mutex's first int");
static_assert(IsDrivableInitializer(pthread_mutex_t PTHREAD_MUTEX_INITIALIZER),
              "PTHREAD_MUTEX_INITIALIZER is not glibc's default mutex, free");

// ---- Chosen at start-up.

// 0 once the start-up self-test has found the protocol as described; before
// that, and for good if it found anything else, 1: every lock and unlock is
// then a pthread call. The mutex's kind is never consulted: glibc's lock
// elision, on hardware that has it, sets a flag in the kind at run time,
// and an elided lock still reads the lock word inside its transaction, so
// taking the word aborts the transaction and the elided taker falls back to
// the word too. The fast path therefore never blocks in a pthread call,
// which could take the mutex by elision, and never leaves the word for one.
extern int sByCalls __attribute__((visibility("hidden")));

inline bool ByCalls() { return __atomic_load_n(&sByCalls, __ATOMIC_RELAXED) != 0; }

// ---- The calling thread's pthread_t, without a call.

// glibc's pthread_t is the address of the thread's descriptor, at a fixed
// distance below the thread pointer: none on x86, where the pointer is the
// descriptor, and the descriptor's size on ARM, where the thread's TLS
// follows it. ProtocolMatches() measures the distance once; it is the same for
// every thread of the process.
extern uintptr_t sThreadPointerOffset __attribute__((visibility("hidden")));

// Valid once ProtocolMatches() has passed. Before that, on ARM, it is the
// thread pointer itself, which no thread's pthread_t equals, so a thread is
// never taken for the holder; the pthread-call path, which every lock takes
// until then, reads pthread_self().
inline pthread_t CurrentThread() {
#if OS_THREAD_POINTER
#  if OS_X86
  return static_cast<pthread_t>(OSPlatform::ThreadPointer());
#  else
  return static_cast<pthread_t>(OSPlatform::ThreadPointer() - sThreadPointerOffset);
#  endif
#else
  return pthread_self();
#endif
}

// ---- The mutex's lock word.

// Its states (OSMutexProtocol.h), as glibc's lowlevellock.h names them in
// its comments.
constexpr int kFree = 0;
constexpr int kTaken = 1;
constexpr int kContended = 2;

// Takes a free word; false, and nothing changed, when it is taken.
inline bool TakeWord(int& word) {
  int expected = kFree;
  return __atomic_compare_exchange_n(&word, &expected, kTaken, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED);
}

// Gives a taken word back with one decrement; true when that left it
// kFree, that is, nobody sleeps on it. A contended word (kContended) is left
// at kTaken, so that no other thread can take it, until ContendedGiven()
// frees it for the caller to wake a sleeper: together what glibc's unlock
// does in one exchange (nptl/lowlevellock.h, lll_unlock, glibc 2.31 to
// 2.42). A decrement needs no register for the old value, and its result
// is a flag.
inline bool GiveWord(int& word) { return __atomic_sub_fetch(&word, 1, __ATOMIC_RELEASE) == kFree; }
inline void ContendedGiven(int& word) { __atomic_store_n(&word, kFree, __ATOMIC_RELEASE); }

inline bool TryAcquire(pthread_mutex_t& m) { return TakeWord(m.__data.__lock); }

// Whether the last level of m must be given back by pthread_mutex_unlock():
// m was taken inside a pthread call (by a copy of the library that locks
// through them, or before the self-test), which records its taker in
// __owner, or the self-test failed. One load, one OR and one branch.
inline bool ReleaseByCall(const pthread_mutex_t& m) {
  return (m.__data.__owner | __atomic_load_n(&sByCalls, __ATOMIC_RELAXED)) != 0;
}

// Gives the mutex's word back (GiveWord()).
inline bool ReleaseWord(pthread_mutex_t& m) { return GiveWord(m.__data.__lock); }

// Wakes one thread asleep on a lock word, as the C library's unlock would. Returns 0, or the errno
// of a call that cannot fail on a valid address.
inline int WakeOne(int& word) {
  const int saved = errno;
  if (syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0) < 0) return errno;
  errno = saved;
  return 0;
}

// Marks a taken word contended and takes it once it is free, sleeping on it
// meanwhile, as glibc's own lock does once its first try fails
// (nptl/lowlevellock.c, __lll_lock_wait_private, glibc 2.31 to 2.42): the
// word stays kContended while this thread holds it, so its unlock wakes
// the next sleeper. With a timeout (timeoutNanos above 0) returns
// ETIMEDOUT once a sleep of that long has passed without the word;
// otherwise 0, or the errno of a call that cannot fail on a valid address.
//
// The timeout is the kernel's own struct of two longs, which SYS_futex
// takes on every target whatever the C library's time_t (a 32-bit build
// with 64-bit time_t has a timespec the call would misread).
struct KernelTimeout {
  long tv_sec;
  long tv_nsec;
};
inline KernelTimeout TimeoutOf(unsigned long long nanos) {
  return {static_cast<long>(nanos / 1000000000u), static_cast<long>(nanos % 1000000000u)};
}

inline int TakeContended(int& word, unsigned long long timeoutNanos) {
  const KernelTimeout timeout = TimeoutOf(timeoutNanos);
  const KernelTimeout* const wait = timeoutNanos != 0 ? &timeout : nullptr;
  while (__atomic_exchange_n(&word, kContended, __ATOMIC_ACQUIRE) != kFree) {
    const int saved = errno;
    if (syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, kContended, wait, nullptr, 0) < 0) {
      const int err = errno;
      errno = saved;
      if (err == ETIMEDOUT) return err;
      if (err != EAGAIN && err != EINTR) return err;
    }
    errno = saved;
  }
  return 0;
}

// One round of TakeContended(), for a waiter that must look at something
// else between its sleeps: takes the word if it is free, marking it, and
// returns 0; otherwise sleeps on it once, for up to timeoutNanos, and
// returns EAGAIN (woken, or the word changed) or ETIMEDOUT, or the errno
// of a call that cannot fail on a valid address.
inline int TakeContendedOrSleep(int& word, unsigned long long timeoutNanos) {
  if (__atomic_exchange_n(&word, kContended, __ATOMIC_ACQUIRE) == kFree) return 0;
  const KernelTimeout timeout = TimeoutOf(timeoutNanos);
  const int saved = errno;
  int err = EAGAIN;
  if (syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, kContended, &timeout, nullptr, 0) < 0) {
    err = errno;
    if (err == EINTR) err = EAGAIN;
  }
  errno = saved;
  return err;
}

// Wakes every thread asleep on the word. Returns 0, or the errno of a call
// that cannot fail on a valid address.
inline int WakeAll(int& word) {
  const int saved = errno;
  if (syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0) < 0)
    return errno;
  errno = saved;
  return 0;
}

// Sleeps for up to nanos while the word stays kTaken, without marking it:
// the holder's unlock then makes no system call, and wakes nobody. Returns
// at once when the word is no longer kTaken. Sets *woken when a wake ended
// the nap: an unlock's wake goes to any one thread asleep on the word, and
// one meant for a marked sleeper must not be lost, so the caller must then
// take the word as a marked sleeper does (TakeContended()), which marks it
// again for the sleeper it may have robbed. Returns 0, or the errno of a
// call that cannot fail on a valid address.
inline int Nap(int& word, unsigned long long nanos, bool* woken) {
  const KernelTimeout timeout = TimeoutOf(nanos);
  const int saved = errno;
  int err = 0;
  *woken = syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, kTaken, &timeout, nullptr, 0) == 0;
  if (!*woken) {
    err = errno;
    if (err == ETIMEDOUT || err == EAGAIN || err == EINTR) err = 0;
  }
  errno = saved;
  return err;
}

// ---- The start-up self-test.

inline pid_t KernelThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

// Takes and gives back scratch, which must be free and of the default kind,
// through the pthread calls and through the lock word, and checks that each
// leaves what the fast path expects. On success also measures the distance
// from the thread pointer to pthread_self(). Returns whether everything
// matched.
inline bool ProtocolMatches(pthread_mutex_t& scratch) {
  if (scratch.__data.__kind != 0 || scratch.__data.__lock != 0) return false;
  if (pthread_mutex_lock(&scratch) != 0) return false;
  bool ok = scratch.__data.__lock == kTaken && scratch.__data.__owner == KernelThreadId() &&
            !TryAcquire(scratch);
  if (pthread_mutex_unlock(&scratch) != 0) return false;
  ok = ok && scratch.__data.__lock == 0 && scratch.__data.__owner == 0;
  if (!ok || !TryAcquire(scratch)) return false;
  ok = pthread_mutex_trylock(&scratch) == EBUSY && scratch.__data.__owner == 0;
  if (!ReleaseWord(scratch)) return false;
  if (!ok || pthread_mutex_trylock(&scratch) != 0) return false;
  if (pthread_mutex_unlock(&scratch) != 0 || scratch.__data.__lock != 0) return false;
#if OS_THREAD_POINTER
  const uintptr_t pointer = OSPlatform::ThreadPointer();
  const uintptr_t self = static_cast<uintptr_t>(pthread_self());
#  if OS_X86
  if (pointer != self) return false;
#  else
  if (pointer < self) return false;
  sThreadPointerOffset = pointer - self;
#  endif
#endif
  return true;
}

}  // namespace OSGlibc

#endif  // OSMutexGlibc_H
