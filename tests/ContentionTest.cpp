// The standard-library mutex's contention figures, tracer and stall line.
// Each case runs in a child: the figures live for the whole process.

#include <gtest/gtest.h>
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

}  // namespace
