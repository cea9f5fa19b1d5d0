// Tests of OSMutex, OSMutexLocker and OS::GetStdLibMutex().

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

#include "OS.h"
#include "OSMutex.h"
#include "OSUtilities/internal/OSMutexWait.h"
#include "TestSupport.h"

namespace {

// One level at a time, and by threads that hold none: outside the analysis.
void UnlockOnce(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS { m.Unlock(); }

bool TryLockElsewhere(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS {
  bool taken = false;
  std::thread([&]() OS_NO_THREAD_SAFETY_ANALYSIS {
    taken = m.TryLock();
    if (taken) m.Unlock();
  }).join();
  return taken;
}

TEST(OSMutex, RecordsHolderAndLevels) {
  OSMutex m;
  EXPECT_EQ(OSMutexProtocol::HolderOf(m), pthread_t{});
  LockTwice(m);
  EXPECT_TRUE(pthread_equal(OSMutexProtocol::HolderOf(m), pthread_self()));
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 2u);
  UnlockOnce(m);
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 1u);
  EXPECT_FALSE(TryLockElsewhere(m)) << "one level is still held";
  UnlockOnce(m);
  EXPECT_EQ(OSMutexProtocol::HolderOf(m), pthread_t{});
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 0u);
  EXPECT_TRUE(TryLockElsewhere(m));
}

TEST(OSMutex, TryLockIsRecursiveAndFailsWhenHeldElsewhere) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex m;
  ASSERT_TRUE(m.TryLock());
  ASSERT_TRUE(m.TryLock());
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 2u);
  EXPECT_FALSE(TryLockElsewhere(m));
  m.Unlock();
  m.Unlock();
  EXPECT_TRUE(TryLockElsewhere(m));
}

TEST(OSMutex, ForeignUnlockReleasesNothing) {
  ForeignHolder holder;
  OSMutex& m = *OS::GetStdLibMutex();
  const pthread_t holderId = OSMutexProtocol::HolderOf(m);
  UnlockOnce(m);
  UnlockOnce(m);
  EXPECT_TRUE(pthread_equal(OSMutexProtocol::HolderOf(m), holderId));
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 1u);
  EXPECT_FALSE(TryLockElsewhere(m));
  holder.Release();
  EXPECT_TRUE(TryLockElsewhere(m));
}

TEST(OSMutex, ForeignUnlockOfAFreeMutexIsHarmless) {
  OSMutex m;
  UnlockOnce(m);
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 0u);
  EXPECT_TRUE(TryLockElsewhere(m));
}

TEST(OSMutex, LockWaitsForTheHolder) {
  ForeignHolder holder;
  Probe probe([] { OSMutexLocker locker(OS::GetStdLibMutex()); });
  EXPECT_FALSE(probe.FinishedWithin(100));
  holder.Release();
  EXPECT_TRUE(probe.FinishedWithin(10000));
}

// The invariant a broken lock violates: each step reads g0, writes it back
// one higher and lowers g1, with nested levels on every other step.
TEST(OSMutex, SerialisesReadModifyWriteAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kIterations = 20000;
  OSMutex m;
  long g0 = 0;
  long g1 = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&]() OS_NO_THREAD_SAFETY_ANALYSIS {
      for (int i = 0; i < kIterations; ++i) {
        OSMutexLocker outer(&m);
        const long a = g0 + 1;
        if (i % 2 == 0) {
          OSMutexLocker inner(&m);
          std::this_thread::yield();
          g0 = a;
        } else {
          g0 = a;
        }
        g1--;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g0, long{kThreads} * kIterations);
  EXPECT_EQ(g0, -g1);
}

TEST(OSMutexLocker, ReleasesOnEveryWayOut) {
  OSMutex m;
  try {
    OSMutexLocker locker(&m);
    throw std::runtime_error("leave the scope by unwinding");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(OSMutexProtocol::LevelsOf(m), 0u);
  EXPECT_TRUE(TryLockElsewhere(m));
}

TEST(OSMutexLocker, NullMutexIsNeverLocked) {
  OSMutexLocker locker(nullptr);
  locker.Unlock();
  locker.Lock();
}

bool RunsOnSeveralCpus() {
  cpu_set_t allowed;
  return sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 1;
}

// Waits for m while another thread holds it for holdMillis.
void WaitBehindAHolder(OSMutex& m, int holdMillis) {
  std::promise<void> held;
  std::thread holder([&]() OS_NO_THREAD_SAFETY_ANALYSIS {
    m.Lock();
    held.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMillis));
    m.Unlock();
  });
  held.get_future().wait();
  m.Lock();
  m.Unlock();
  holder.join();
}

// A host's own mutex spins for a fixed budget however its waits go; the
// standard-library mutex learns its budget from its waiters' spins, and a
// hold that outlasts every spin lowers it.
TEST(OSMutexWait, OnlyTheStdLibMutexLearnsItsSpin) {
  if (!RunsOnSeveralCpus()) GTEST_SKIP() << "one CPU: no mutex spins";
  const ChildResult child = RunInChild([] {
    OSMutex own;
    OSMutex& stdLib = *OS::GetStdLibMutex();
    CHILD_CHECK(OSMutexWaitHooks::Of(own) == nullptr);
    OSMutexWaitHooks::Of(stdLib)->fSpinBudget = OSMutexSpin::kFixedSpin;
    for (int round = 0; round < 2; ++round) {
      WaitBehindAHolder(own, 30);
      WaitBehindAHolder(stdLib, 30);
    }
    CHILD_CHECK(OSMutexProtocol::SpinBudgetOf(own) == OSMutexSpin::kFixedSpin);
    CHILD_CHECK(OSMutexProtocol::SpinBudgetOf(stdLib) < OSMutexSpin::kFixedSpin);
  });
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
}

// Where the process may run on one CPU only, no waiter spins (its holder
// could not run meanwhile), and the waits still end. The suite runs once
// more pinned to one CPU, with SAFESTDLIB_TEST_ONE_CPU set
// (tests/CMakeLists.txt).
TEST(OSMutexWait, NoMutexSpinsOnOneCpu) {
  const bool severalCpus = RunsOnSeveralCpus();
  if (getenv("SAFESTDLIB_TEST_ONE_CPU") != nullptr) {
    ASSERT_FALSE(severalCpus) << "the test runner pins the process to one CPU";
  }
  OSMutex own;
  OSMutex& stdLib = *OS::GetStdLibMutex();
  EXPECT_EQ(OSMutexProtocol::SpinBudgetOf(own) != 0, severalCpus);
  EXPECT_EQ(OSMutexProtocol::SpinBudgetOf(stdLib) != 0, severalCpus);
  WaitBehindAHolder(own, 20);
  WaitBehindAHolder(stdLib, 20);
}

TEST(OS, GetStdLibMutexReturnsTheStaticMutex) {
  EXPECT_EQ(OS::GetStdLibMutex(), &OS::sStdLibOSMutex);
}

}  // namespace
