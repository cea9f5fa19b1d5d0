// The standard-library mutex's contention figures, tracer and stall line.
// Each case runs in a child: the figures live for the whole process.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "OS.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

bool Unchanged(const OSMutexContention& a, const OSMutexContention& b) {
  return a.fContendedLocks == b.fContendedLocks && a.fWaitNanos == b.fWaitNanos &&
         a.fLongestWaitNanos == b.fLongestWaitNanos && a.fKernelWaits == b.fKernelWaits;
}

std::atomic<int> sTraced{0};
std::atomic<UInt64> sTracedNanos{0};

void CountTrace(const char*, const void* mutex, UInt64 waitNanos) {
  if (mutex == OS::GetStdLibMutex()) ++sTraced;
  sTracedNanos += waitNanos;
}

// Waits that the holder forces last about 50 ms: well past the back-off,
// so each ends asleep in the kernel.
void WaitBehindAHolder(int waiters) {
  ForeignHolder holder;
  std::vector<std::thread> threads;
  for (int i = 0; i < waiters; ++i)
    threads.emplace_back([] {
      char text[16];
      zuvo_snprintf(text, sizeof text, "%d", 1);
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  holder.Release();
  for (std::thread& t : threads) t.join();
}

TEST(Contention, OnlyWaitsCountAndTheTracerSeesEach) {
  const ChildResult child = RunInChild([] {
    const OSMutexContention before = OS::GetStdLibMutexContention();
    char text[16];
    for (int i = 0; i < 1000; ++i) {
      zuvo_snprintf(text, sizeof text, "%d", i);
      OSMutexLocker locker(OS::GetStdLibMutex());
    }
    CHILD_CHECK(Unchanged(before, OS::GetStdLibMutexContention()));

    OS::SetStdLibMutexTracer(CountTrace);
    WaitBehindAHolder(3);
    const OSMutexContention after = OS::GetStdLibMutexContention();
    CHILD_CHECK(after.fContendedLocks >= before.fContendedLocks + 3);
    CHILD_CHECK(after.fKernelWaits >= before.fKernelWaits + 3);
    CHILD_CHECK(after.fLongestWaitNanos >= 10 * 1000 * 1000);
    CHILD_CHECK(after.fWaitNanos - before.fWaitNanos >= 3 * 10 * 1000 * 1000);
    CHILD_CHECK(after.fWaitNanos >= after.fLongestWaitNanos);
    CHILD_CHECK(sTraced.load() >= 3 && sTracedNanos.load() >= 3 * 10 * 1000 * 1000);

    OS::SetStdLibMutexTracer(nullptr);
    const int traced = sTraced.load();
    WaitBehindAHolder(1);
    CHILD_CHECK(sTraced.load() == traced);
  });
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
}

// One line per stall, however many threads wait and however long; none
// while the threshold is off.
TEST(Contention, AStallIsReportedOnceWithItsWaitersAndHolder) {
  const ChildResult child = RunInChild([] {
    dup2(STDOUT_FILENO, STDERR_FILENO);
    WaitBehindAHolder(2);  // no threshold: nothing written
    OS::SetStdLibMutexStallMillis(10);
    WaitBehindAHolder(3);
  });
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out.find("SafeStdLib: waited 10 ms for the standard-library mutex; "), size_t{0})
      << child.out;
  EXPECT_EQ(child.out.find('\n'), child.out.size() - 1) << child.out;
  EXPECT_NE(child.out.find(" thread(s) wait; held by thread 0x"), std::string::npos);
}

[[noreturn]] void Throw(const char*, const void*, UInt64) { throw 42; }

// A tracer that throws leaves no level held: the routine that waited
// returns, and another thread then takes the mutex at once.
TEST(Contention, ATracerThatThrowsLeavesNoLevelHeld) {
  const ChildResult child = RunInChild([] {
    dup2(STDOUT_FILENO, STDERR_FILENO);
    OS::SetStdLibMutexTracer(Throw);
    WaitBehindAHolder(2);
    OS::SetStdLibMutexTracer(nullptr);
    std::thread([] {
      OSMutex& mutex = *OS::GetStdLibMutex();
      if (!mutex.TryLock()) ChildCheckFailed(__FILE__, __LINE__, "the mutex is held");
      mutex.Unlock();
    }).join();
  });
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out,
            "SafeStdLib: the standard-library mutex's contention tracer threw; its exceptions "
            "are dropped\n");
}

// A child of fork() starts as a process with one thread: what its parent's
// waiters and stall left behind is not the child's. Forked by a holder
// while two threads wait and their stall has been reported.
void ForkWhileAStallIsReported() OS_NO_THREAD_SAFETY_ANALYSIS {
  const auto wait = [] {
    char text[16];
    zuvo_snprintf(text, sizeof text, "%d", 1);
  };
  dup2(STDOUT_FILENO, STDERR_FILENO);
  OS::SetStdLibMutexStallMillis(20);
  OSMutex& mutex = *OS::GetStdLibMutex();
  mutex.Lock();
  std::vector<std::thread> waiters;
  for (int i = 0; i < 2; ++i) waiters.emplace_back(wait);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const pid_t pid = fork();
  if (pid == 0) {
    std::thread waiter(wait);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    mutex.Unlock();
    waiter.join();
    _exit(0);
  }
  int status = -1;
  CHILD_CHECK(pid > 0 && waitpid(pid, &status, 0) == pid && status == 0);
  mutex.Unlock();
  for (std::thread& t : waiters) t.join();
}

TEST(Contention, AForkedChildCountsAndReportsItsOwnStall) {
  if (!ChildMayStartThreads()) GTEST_SKIP() << "the child of a busy process starts a thread";
  const ChildResult child = RunInChild(ForkWhileAStallIsReported);
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
  const std::string stall = "SafeStdLib: waited 20 ms for the standard-library mutex; ";
  const size_t parent = child.out.find(stall + "2 thread(s) wait");
  EXPECT_NE(parent, std::string::npos) << child.out;
  EXPECT_NE(child.out.find(stall + "1 thread(s) wait", parent), std::string::npos) << child.out;
}

}  // namespace
