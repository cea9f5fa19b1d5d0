// OSStdioGlibc.h: a glibc stream's own lock (flockfile()'s), driven
// without a call.
//
// Private to the library; never installed, and included only with
// OSMutexGlibc.h. Behind the FILE's public _lock pointer, glibc keeps the
// lock word of OSMutexGlibc.h (0 free, 1 taken, 2 taken with threads asleep
// on it, a private futex), then the holder's count of levels, then the
// holder's pthread_t. ftrylockfile() and funlockfile() are a few
// instructions around that; doing them here saves the two calls and leaves
// the C library's own lock inside the print a recursive count. The
// start-up self-test (StreamProtocolMatches()) checks the layout against
// the calls on a scratch stream, reading before it writes; a copy whose
// check fails drives no lock itself, neither mutex nor stream.
#ifndef OSStdioGlibc_H
#define OSStdioGlibc_H

#include <stdio.h>

#include <type_traits>

#include "OSMutexGlibc.h"

namespace OSGlibc {

static_assert(std::is_same_v<decltype(static_cast<FILE*>(nullptr)->_lock), void*>,
              "glibc's FILE no longer has an opaque _lock pointer");

struct StreamLock {
  int fWord;
  int fLevels;
  void* fHolder;
};

inline StreamLock& LockOf(FILE* stream) { return *static_cast<StreamLock*>(stream->_lock); }

// ftrylockfile() for a stream that nobody holds: takes it for self, at one
// level, and returns true. Returns false, having changed nothing, when any
// thread holds it, the caller included.
inline bool TryTakeStream(FILE* stream, pthread_t self) {
  StreamLock& lock = LockOf(stream);
  if (!TakeWord(lock.fWord)) return false;
  __atomic_store_n(&lock.fHolder, reinterpret_cast<void*>(self), __ATOMIC_RELAXED);
  lock.fLevels = 1;
  return true;
}

// funlockfile() of the one level TryTakeStream() took, every level taken
// since having been given back. Returns what the lock word held: 1 when
// nobody sleeps on it, 2 when the caller must wake one (WakeOne()).
inline int GiveStream(FILE* stream) {
  StreamLock& lock = LockOf(stream);
  lock.fLevels = 0;
  __atomic_store_n(&lock.fHolder, nullptr, __ATOMIC_RELAXED);
  return GiveWord(lock.fWord);
}

// Takes and gives back scratch, a stream nobody holds, through the calls
// and here, and checks that each leaves what the other expects and counts
// the other's levels. Only reads until the calls have shown the layout.
// Call after ProtocolMatches() has passed, for CurrentThread(). Returns
// whether everything matched.
inline bool StreamProtocolMatches(FILE* scratch) {
  if (scratch == nullptr || scratch->_lock == nullptr) return false;
  const StreamLock& lock = LockOf(scratch);
  const pthread_t self = CurrentThread();
  const auto is = [&lock](int word, int levels, pthread_t holder) {
    return lock.fWord == word && lock.fLevels == levels &&
           lock.fHolder == reinterpret_cast<void*>(holder);
  };
  // One more level through the calls, counted, and given back.
  const auto takesAgain = [&] {
    if (ftrylockfile(scratch) != 0) return false;
    const bool counted = is(1, 2, self);
    funlockfile(scratch);
    return counted && is(1, 1, self);
  };
  if (!is(0, 0, 0)) return false;
  flockfile(scratch);
  bool ok = is(1, 1, self) && !TryTakeStream(scratch, self) && takesAgain();
  funlockfile(scratch);
  if (!ok || !is(0, 0, 0) || !TryTakeStream(scratch, self)) return false;
  ok = is(1, 1, self) && takesAgain();
  const int word = GiveStream(scratch);
  return ok && word == 1 && is(0, 0, 0);
}

}  // namespace OSGlibc

#endif  // OSStdioGlibc_H
