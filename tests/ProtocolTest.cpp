// The guards on glibc's mutex protocol: each one's failing branch, and the
// path the start-up self-test chose.
//
// Also built against a copy of the library whose self-test is made to fail
// (SAFESTDLIB_EXPECT_PTHREAD_CALLS): that copy must lock every mutex
// through the pthread calls, and the OSMutex suite must pass on it.

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "OSMutex.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "TestSupport.h"

namespace {

// Whether the last lock of m went through pthread_mutex_lock(), which
// records the owner; the fast path leaves the owner at 0.
[[maybe_unused]] bool TakenByCall(OSMutex& m) {
  return OSMutexProtocol::RawOf(m).__data.__owner == static_cast<int>(syscall(SYS_gettid));
}

#if OS_MUTEX_FAST_PATH

// The compile-time checks turn away what the fast path could not drive.
static_assert(
    !OSGlibc::IsDrivableInitializer(pthread_mutex_t PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP));
static_assert(
    !OSGlibc::IsDrivableInitializer(pthread_mutex_t PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP));
static_assert(!OSGlibc::IsDrivableLayout(4, sizeof(int), true));
static_assert(!OSGlibc::IsDrivableLayout(0, sizeof(long long), false));

TEST(Protocol, SelfTestAcceptsOnlyTheDefaultMutex) {
  pthread_mutex_t plain = PTHREAD_MUTEX_INITIALIZER;
  EXPECT_TRUE(OSGlibc::ProtocolMatches(plain));
  pthread_mutex_t checked = PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP;
  EXPECT_FALSE(OSGlibc::ProtocolMatches(checked));
  pthread_mutex_t held = PTHREAD_MUTEX_INITIALIZER;
  ASSERT_EQ(pthread_mutex_lock(&held), 0);
  EXPECT_FALSE(OSGlibc::ProtocolMatches(held));
  ASSERT_EQ(pthread_mutex_unlock(&held), 0);
}

// The path chosen at start-up is the one that the running C library's own
// mutex allows: the fast path exactly where a fresh self-test passes (and
// where the build does not make it fail on purpose).
TEST(Protocol, StartUpChoseThePathItsSelfTestAllows) OS_NO_THREAD_SAFETY_ANALYSIS {
#  if defined(SAFESTDLIB_EXPECT_PTHREAD_CALLS)
  const bool fast = false;
#  else
  pthread_mutex_t scratch = PTHREAD_MUTEX_INITIALIZER;
  const bool fast = OSGlibc::ProtocolMatches(scratch);
#  endif
  OSMutex m;
  m.Lock();
  EXPECT_EQ(TakenByCall(m), !fast);
  if (fast) {
    EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 1);
  }
  m.Unlock();
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 0);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__owner, 0);
}

#endif  // OS_MUTEX_FAST_PATH

// The mutex's kind is never consulted: glibc's lock elision sets a flag in
// it at run time, and the lock word still tells who holds the mutex. A
// mutex whose kind another copy or the C library changed is still one lock,
// taken recursively and given back whole, whichever way it is taken.
TEST(Protocol, AMutexWhoseKindChangedIsStillOneLock) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  OSMutexProtocol::RawOf(m).__data.__kind = PTHREAD_MUTEX_ERRORCHECK_NP;
  LockTwice(m);
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 2u);
  EXPECT_TRUE(m.TryLock());
  std::thread([&m]() OS_NO_THREAD_SAFETY_ANALYSIS { EXPECT_FALSE(m.TryLock()); }).join();
  m.Unlock();
  UnlockTwice(m);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 0);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__owner, 0);
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 0u);
  std::thread([&m]() OS_NO_THREAD_SAFETY_ANALYSIS {
    ASSERT_TRUE(m.TryLock());
    m.Unlock();
  }).join();
}

// Waits until a thread sleeps on m's lock word: glibc marks it 2 then.
void AwaitSleeper(OSMutex& m) {
  const struct timespec tick = {0, 1000 * 1000};
  while (__atomic_load_n(&OSMutexProtocol::RawOf(m).__data.__lock, __ATOMIC_RELAXED) != 2)
    nanosleep(&tick, nullptr);
}

// A copy that locks through the pthread calls shares the mutex with one
// that drives the lock word: each wakes the other's sleeper when it lets go.
TEST(Protocol, APthreadCallSleeperIsWokenByTheLibrarysUnlock) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  m.Lock();
  std::atomic<bool> took{false};
  std::thread sleeper([&] {
    ASSERT_EQ(pthread_mutex_lock(&OSMutexProtocol::RawOf(m)), 0);
    took = true;
    EXPECT_EQ(OSMutexProtocol::HolderOf(m), pthread_t());
    ASSERT_EQ(pthread_mutex_unlock(&OSMutexProtocol::RawOf(m)), 0);
  });
  AwaitSleeper(m);
  EXPECT_FALSE(took);
  m.Unlock();
  sleeper.join();
  EXPECT_TRUE(took);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 0);
  ASSERT_TRUE(m.TryLock());
  m.Unlock();
}

TEST(Protocol, TheLibrarysSleeperIsWokenByAPthreadCallUnlock) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  ASSERT_EQ(pthread_mutex_lock(&OSMutexProtocol::RawOf(m)), 0);
  std::atomic<bool> took{false};
  std::thread sleeper([&]() OS_NO_THREAD_SAFETY_ANALYSIS {
    m.Lock();
    took = true;
    EXPECT_EQ(OSMutexProtocol::HolderOf(m), pthread_self());
    m.Unlock();
  });
  AwaitSleeper(m);
  EXPECT_FALSE(took);
  ASSERT_EQ(pthread_mutex_unlock(&OSMutexProtocol::RawOf(m)), 0);
  sleeper.join();
  EXPECT_TRUE(took);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 0);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__owner, 0);
}

// Threads that sleep on the lock word the two ways (the library's, which
// naps unmarked first, and glibc's, which marks it at once) hand the mutex
// round without a lost wake: every thread finishes. A napper that took a
// wake meant for a marked sleeper and did not mark the word again would
// leave that sleeper asleep for good.
TEST(Protocol, SleepersOfBothKindsAreAllWoken) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  const int kRounds = kSanitized ? 2000 : 20000;
  long inside = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t]() OS_NO_THREAD_SAFETY_ANALYSIS {
      for (int i = 0; i < kRounds; ++i) {
        if (t % 2 == 0) {
          m.Lock();
        } else {
          ASSERT_EQ(pthread_mutex_lock(&OSMutexProtocol::RawOf(m)), 0);
        }
        ++inside;  // the mutex keeps this a plain increment
        if (i % 64 == 0) std::this_thread::yield();
        if (t % 2 == 0) {
          m.Unlock();
        } else {
          ASSERT_EQ(pthread_mutex_unlock(&OSMutexProtocol::RawOf(m)), 0);
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(inside, 4L * kRounds);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__lock, 0);
}

}  // namespace
