// OSMutexWait.h: one thread's wait for an OSMutex that another thread
// holds, in the part that the two ways of waiting share: on the lock word
// (OSMutexWaitWord.cpp) and in the pthread calls (OSMutexWaitCalls.cpp).
//
// Private to the library; never installed. A waiter spins only while
// spinning is likely to win, trying at growing intervals up to kMaxBackoff
// pauses apart, so that a holder that calls again at once keeps its cache
// line; then it naps, and then sleeps until the holder wakes it. Short
// holds are then caught without a sleep and a wake, two system calls; long
// ones (a slow write) cost the waiter hardly a core.
//
// How long it spins: where the process may run on one CPU only, not at all
// (the holder cannot run while the waiter spins), as glibc's adaptive mutex
// does not spin on a uniprocessor (`if (! __is_smp) goto simple;`); for the
// standard-library mutex, a budget learned from its waiters' spins, as
// glibc's adaptive mutex learns its own (`__spins` moves an eighth of the
// way towards each spin's count): both in nptl/pthread_mutex_lock.c, the
// PTHREAD_MUTEX_ADAPTIVE_NP case, glibc 2.31. Every other OSMutex spins for
// kFixedSpin pauses.
//
// What the standard-library mutex's waiters do beyond that (learn the
// budget, count the waits, call the host's tracer, write the stall line,
// and for a routine's wait, give up once the exit hold has kept the mutex
// past its bound) hangs on OSMutexWaitHooks, which only that mutex has
// (OSStdLibWaits.cpp): the waits never name it. Nothing a wait does is a
// cancellation point.
#ifndef OSMutexWait_H
#define OSMutexWait_H

#include "OSUtilities/OSMutex.h"
#include "OSUtilities/internal/OSClock.h"
#include "OSUtilities/internal/OSPlatform.h"

struct OSProcessWaits;

namespace OSMutexSpin {
// The budget, in pauses, of every mutex without hooks, and the start of
// the learned one, which stays between kMinSpin and kMaxSpin.
constexpr int kFixedSpin = 128;
constexpr int kMinSpin = 16;
constexpr int kMaxSpin = 2048;
// The most pauses between two looks.
constexpr int kMaxBackoff = 32;
}  // namespace OSMutexSpin

namespace OSMutexSleep {
// No time: a sleep for good, a deadline that never comes.
constexpr UInt64 kNever = ~UInt64{0};
// A routine's wait sleeps at most this long at a time, so that it sees the
// exit hold end even if the hold's wake came just before its sleep.
constexpr UInt64 kLookNanos = 100 * 1000 * 1000;
}  // namespace OSMutexSleep

// What a wait for one mutex adds to taking it. Each copy of the library
// gives hooks to one mutex: the standard-library mutex that its routines
// take, as its start-up chose it (OSProcessView::fMutex).
class OSMutexWaitHooks {
 public:
  // The hooks of m; null for a mutex that has none. Never blocks.
  static OSMutexWaitHooks* Of(const OSMutex& m);

  // The learned budget, and how a spin of `spent` pauses that won or lost
  // moves it.
  int SpinBudget() const;
  void Spun(int spent, bool won);

  // The hooks' part of one wait: the figures it counts into, chosen when
  // it begins, and when it began.
  struct Wait {
    OSProcessWaits* fWaits;
    UInt64 fBegan;
  };
  // A wait begins: counts the waiter.
  Wait Began();
  // The host's stall threshold; 0 while none is set.
  UInt32 StallMillis(const Wait& wait) const;
  // The wait has lasted stallMillis while m is held by another thread:
  // writes the stall line, once per holder.
  void Stalled(const Wait& wait, const OSMutex& m, UInt32 stallMillis);
  // The waiter now holds m; `blocked` if its first spin lost, so that it
  // went on to nap or sleep in the kernel. Counts the wait and calls the
  // host's tracer.
  void Ended(const Wait& wait, OSMutex& m, bool blocked);
  // For a routine's wait (OSMutexProtocol::LockForCall()): when it gives
  // up, now that the exit hold is over, or kNever while it is not; and
  // that it gave up, holding nothing: it no longer waits, and its wait is
  // counted nowhere.
  UInt64 GiveUpAt(UInt64 now) const;
  void GaveUp(const Wait& wait);

  // The learned budget: a hint, read and written atomically by waiters.
  int fSpinBudget = OSMutexSpin::kFixedSpin;
};

// One wait, from the first failed try until the waiter holds the mutex.
class OSMutexWait {
 public:
  // Whether this copy's waiters spin: false where the process may run on
  // one CPU only. Chosen once, at start-up (OSMutexProtocol.cpp).
  static bool sSpins __attribute__((visibility("hidden")));

  // The pauses a waiter for m spins for now (see the top of this file).
  static int SpinBudgetFor(const OSMutex& m);

  // Begins a wait for m; forCall: a routine's (LockForCall()'s), which
  // gives up at the exit's deadline.
  explicit OSMutexWait(const OSMutex& m, bool forCall = false);
  OSMutexWait(const OSMutexWait&) = delete;
  OSMutexWait& operator=(const OSMutexWait&) = delete;

  // What one look at the mutex found.
  enum Seen { kTaken, kBusy, kHopeless };

  // Spins for the budget, calling look() after 1, 2, 4 ... kMaxBackoff
  // pauses, then every kMaxBackoff, until it returns kTaken (the waiter
  // took the mutex: returns true) or kHopeless (a spin cannot win now).
  // Without a budget (one CPU), looks once, without a pause.
  template <typename Look>
  bool Spin(Look look);

  // The stall threshold for this wait, in ms: 0 for none; and the stall
  // line, once the wait has lasted that long.
  UInt32 StallMillis() const;
  void Stalled(const OSMutex& m, UInt32 stallMillis);

  // The waiter holds m now; `blocked` if its first spin lost.
  void Ended(OSMutex& m, bool blocked);

  // When this wait gives up (kNever but for a routine's wait once the exit
  // hold is over), and that it did: the waiter holds nothing.
  UInt64 GiveUpAt(UInt64 now) const;
  void GaveUp();

  // After the naps: sleeps until the waiter has m, through sleep(nanos),
  // which sleeps at most that long (kNever: until it has m) and returns
  // whether it took m. Writes the stall line at the threshold, unless
  // stallSaid; a routine's wait looks at the exit hold every kLookNanos and
  // gives up at its deadline. Returns whether the waiter has m.
  template <typename Sleep>
  bool SleepUntilTaken(const OSMutex& m, UInt64 began, bool stallSaid, Sleep sleep);

 private:
  static int SpinBudget(const OSMutexWaitHooks* hooks);
  void Spun(int spent, bool won);

  OSMutexWaitHooks* const fHooks;
  const OSMutexWaitHooks::Wait fWait;
  const bool fForCall;
};

inline int OSMutexWait::SpinBudget(const OSMutexWaitHooks* hooks) {
  if (!__atomic_load_n(&sSpins, __ATOMIC_RELAXED)) return 0;
  return hooks != nullptr ? hooks->SpinBudget() : OSMutexSpin::kFixedSpin;
}

inline int OSMutexWait::SpinBudgetFor(const OSMutex& m) {
  return SpinBudget(OSMutexWaitHooks::Of(m));
}

inline OSMutexWait::OSMutexWait(const OSMutex& m, bool forCall)
    : fHooks(OSMutexWaitHooks::Of(m)),
      fWait(fHooks != nullptr ? fHooks->Began() : OSMutexWaitHooks::Wait{nullptr, 0}),
      fForCall(forCall && fHooks != nullptr) {}

inline void OSMutexWait::Spun(int spent, bool won) {
  if (fHooks != nullptr) fHooks->Spun(spent, won);
}

template <typename Look>
bool OSMutexWait::Spin(Look look) {
  const int budget = SpinBudget(fHooks);
  if (budget == 0) return look() == kTaken;
  int backoff = 1;
  for (int spent = 0; spent < budget; spent += backoff) {
    for (int i = 0; i < backoff; ++i) OSPlatform::CpuRelax();
    const Seen seen = look();
    if (seen == kHopeless) break;
    if (seen == kTaken) {
      Spun(spent, true);
      return true;
    }
    if (backoff < OSMutexSpin::kMaxBackoff) backoff *= 2;
  }
  Spun(budget, false);
  return false;
}

inline UInt32 OSMutexWait::StallMillis() const {
  return fHooks != nullptr ? fHooks->StallMillis(fWait) : 0;
}

inline void OSMutexWait::Stalled(const OSMutex& m, UInt32 stallMillis) {
  fHooks->Stalled(fWait, m, stallMillis);
}

inline void OSMutexWait::Ended(OSMutex& m, bool blocked) {
  if (fHooks != nullptr) fHooks->Ended(fWait, m, blocked);
}

inline UInt64 OSMutexWait::GiveUpAt(UInt64 now) const {
  return fForCall ? fHooks->GiveUpAt(now) : OSMutexSleep::kNever;
}

inline void OSMutexWait::GaveUp() { fHooks->GaveUp(fWait); }

template <typename Sleep>
bool OSMutexWait::SleepUntilTaken(const OSMutex& m, UInt64 began, bool stallSaid, Sleep sleep) {
  using OSMutexSleep::kNever;
  const UInt32 stallMillis = StallMillis();
  const UInt64 stallAt = began + UInt64{stallMillis} * 1000000u;
  for (;;) {
    const UInt64 now = OSNowNanos();
    if (!stallSaid && now >= stallAt) {
      Stalled(m, stallMillis);
      stallSaid = true;
    }
    UInt64 until = stallSaid ? kNever : stallAt;
    if (fForCall) {
      const UInt64 giveUpAt = GiveUpAt(now);
      if (now >= giveUpAt) return false;
      if (giveUpAt < until) until = giveUpAt;
      if (now + OSMutexSleep::kLookNanos < until) until = now + OSMutexSleep::kLookNanos;
    }
    if (sleep(until == kNever ? kNever : until - now)) return true;
  }
}

#endif  // OSMutexWait_H
