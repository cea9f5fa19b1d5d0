// The guards on glibc's mutex protocol: each one's failing branch, and the
// path the start-up self-test chose.
//
// Also built against a copy of the library whose self-test is made to fail
// (SAFESTDLIB_EXPECT_PTHREAD_CALLS): that copy must lock every mutex
// through the pthread calls, and the OSMutex suite must pass on it.

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "OSMutex.h"
#include "TestSupport.h"
#include "internal/OSMutexProtocol.h"

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

// A mutex whose kind is not the default one (as glibc's lock elision makes
// it at run time) is locked, recursively, and released through the calls.
TEST(Protocol, AMutexOfAnotherKindGoesThroughThePthreadCalls) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  OSMutexProtocol::RawOf(m) = pthread_mutex_t PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP;
  LockTwice(m);
  EXPECT_TRUE(TakenByCall(m));
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 2u);
  EXPECT_TRUE(m.TryLock());
  m.Unlock();
  UnlockTwice(m);
  EXPECT_EQ(OSMutexProtocol::RawOf(m).__data.__owner, 0);
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 0u);
  std::thread([&m]() OS_NO_THREAD_SAFETY_ANALYSIS {
    ASSERT_TRUE(m.TryLock());
    m.Unlock();
  }).join();
}

}  // namespace
