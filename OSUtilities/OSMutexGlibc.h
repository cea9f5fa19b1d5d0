// OSMutexGlibc.h: glibc's default mutex, driven without a call.
//
// Private to the library; never installed, and included only where
// OSMutexProtocol.h chose it: glibc on Linux. Everything that depends on
// glibc's private layout of pthread_mutex_t, or on its thread pointer, is
// here. The layout is checked when the library is compiled, the protocol
// when it starts (ProtocolMatches()), and the mutex's kind on every lock, so a
// glibc that differs is driven through the pthread calls instead.
//
// The protocol: the lock word, at offset 0, is 0 free, 1 taken, 2 taken with
// threads asleep on it (a private futex). pthread_mutex_lock() and
// pthread_mutex_trylock() also record the taker's kernel thread id in
// __owner; pthread_mutex_unlock() clears it. An uncontended lock or unlock
// is then one atomic instruction on the word. A mutex taken inside a
// pthread call goes back through pthread_mutex_unlock().
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

// The kind of mutex the fast path drives: 0, glibc's default, once the
// start-up self-test has found the protocol as described; before that, and
// for good if it found anything else, -1, which no mutex has. A mutex of any
// other kind (glibc's lock elision, on hardware that has it, sets a flag in
// it at run time) goes through the pthread calls. The kind sits beside the
// lock word, so the check costs no memory access of its own.
extern int sDrivenKind __attribute__((visibility("hidden")));

inline bool IsDriven(const pthread_mutex_t& m) {
  return m.__data.__kind == __atomic_load_n(&sDrivenKind, __ATOMIC_RELAXED);
}

// ---- The calling thread's pthread_t, without a call.

// The thread pointer, read with one instruction. Inline assembly rather
// than __builtin_thread_pointer(), which g++ before 11 and clang before 12
// reject or miscompile on these targets although __has_builtin reports it.
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) || defined(__arm__)
#  define OS_GLIBC_THREAD_POINTER 1
inline uintptr_t ThreadPointer() {
  uintptr_t pointer;
#  if defined(__x86_64__)
  __asm__("movq %%fs:0, %0" : "=r"(pointer));
#  elif defined(__i386__)
  __asm__("movl %%gs:0, %0" : "=r"(pointer));
#  elif defined(__aarch64__)
  __asm__("mrs %0, tpidr_el0" : "=r"(pointer));
#  else
  __asm__("mrc p15, 0, %0, c13, c0, 3" : "=r"(pointer));
#  endif
  return pointer;
}
#else
#  define OS_GLIBC_THREAD_POINTER 0
#endif

// glibc's pthread_t is the address of the thread's descriptor, at a fixed
// distance below the thread pointer: none on x86, where the pointer is the
// descriptor, and the descriptor's size on ARM, where the thread's TLS
// follows it. ProtocolMatches() measures the distance once; it is the same for
// every thread of the process.
extern uintptr_t sThreadPointerOffset __attribute__((visibility("hidden")));

// Valid once ProtocolMatches() has passed, which IsDriven() implies.
inline pthread_t CurrentThread() {
#if OS_GLIBC_THREAD_POINTER
#  if defined(__x86_64__) || defined(__i386__)
  return static_cast<pthread_t>(ThreadPointer());
#  else
  return static_cast<pthread_t>(ThreadPointer() - sThreadPointerOffset);
#  endif
#else
  return pthread_self();
#endif
}

// ---- The mutex's lock word.

// Takes a free word; false, and nothing changed, when it is taken.
inline bool TakeWord(int& word) {
  int expected = 0;
  return __atomic_compare_exchange_n(&word, &expected, 1, false, __ATOMIC_ACQUIRE,
                                     __ATOMIC_RELAXED);
}

// Gives the word back; returns what it held: 1 when nobody sleeps on it.
inline int GiveWord(int& word) { return __atomic_exchange_n(&word, 0, __ATOMIC_RELEASE); }

inline bool TryAcquire(pthread_mutex_t& m) { return TakeWord(m.__data.__lock); }

inline bool IsFree(const pthread_mutex_t& m) {
  return __atomic_load_n(&m.__data.__lock, __ATOMIC_RELAXED) == 0;
}

// Whether m was taken inside a pthread call, and must be given back by one.
inline bool WasTakenByCall(const pthread_mutex_t& m) { return m.__data.__owner != 0; }

// Gives the mutex's word back; returns what it held (GiveWord()).
inline int ReleaseWord(pthread_mutex_t& m) { return GiveWord(m.__data.__lock); }

// Wakes one thread asleep on a lock word, as the C library's unlock would. Returns 0, or the errno
// of a call that cannot fail on a valid address.
inline int WakeOne(int& word) {
  const int saved = errno;
  if (syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0) < 0) return errno;
  errno = saved;
  return 0;
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
  bool ok = scratch.__data.__lock == 1 && scratch.__data.__owner == KernelThreadId() &&
            !TryAcquire(scratch);
  if (pthread_mutex_unlock(&scratch) != 0) return false;
  ok = ok && scratch.__data.__lock == 0 && scratch.__data.__owner == 0;
  if (!ok || !TryAcquire(scratch)) return false;
  ok = pthread_mutex_trylock(&scratch) == EBUSY && scratch.__data.__owner == 0;
  if (ReleaseWord(scratch) != 1) return false;
  if (!ok || pthread_mutex_trylock(&scratch) != 0) return false;
  if (pthread_mutex_unlock(&scratch) != 0 || scratch.__data.__lock != 0) return false;
#if OS_GLIBC_THREAD_POINTER
  const uintptr_t pointer = ThreadPointer();
  const uintptr_t self = static_cast<uintptr_t>(pthread_self());
#  if defined(__x86_64__) || defined(__i386__)
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
