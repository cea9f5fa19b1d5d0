// What holds for every routine of the list (RoutineTables.h): they lock the
// standard-library mutex, they are recursive with it, and they leave errno
// as their C library call left it.

#include <errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OS.h"
#include "RoutineTables.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

using routines::kRoutineCalls;
using routines::RoutineCall;

// errno after fn, when it was 4242 before.
int ErrnoAfter(void (*fn)()) {
  errno = 4242;
  fn();
  return errno;
}

TEST(AllRoutines, WaitWhileAHostThreadHoldsTheMutex) {
  const ChildResult child = RunInChild([] {
    routines::PrepareRoutineCalls();
    for (const RoutineCall& r : kRoutineCalls) {
      ForeignHolder holder;
      Probe probe(r.wrapped);
      if (probe.FinishedWithin(50)) {
        fprintf(stderr, "%s did not wait for the holder\n", r.name);
        _exit(1);
      }
      holder.Release();
      CHILD_CHECK(probe.FinishedWithin(10000));
    }
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

TEST(AllRoutines, RunWithoutBlockingForAThreadThatHoldsTheMutex) {
  const ChildResult child = RunInChild(
      [] {
        routines::PrepareRoutineCalls();
        OSMutex& m = *OS::GetStdLibMutex();
        LockTwice(m);
        // A routine that blocked here would never return: the alarm ends it.
        for (const RoutineCall& r : kRoutineCalls) {
          r.wrapped();
          CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 2);
        }
        UnlockTwice(m);
      },
      10);
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

TEST(AllRoutines, LeaveErrnoAsTheCLibraryLeftIt) {
  const ChildResult child = RunInChild([] {
    routines::PrepareRoutineCalls();
    // Contention makes unlocking wake a waiter; that must not touch errno.
    std::atomic<bool> stop{false};
    std::thread contender([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        OSMutexLocker locker(OS::GetStdLibMutex());
      }
    });
    for (int round = 0; round < 200; ++round) {
      for (const RoutineCall& r : kRoutineCalls) {
        // The bare call runs under the lock too: it shares the C library's
        // static storage with the contender's routines.
        int expected;
        {
          OSMutexLocker locker(OS::GetStdLibMutex());
          expected = ErrnoAfter(r.bare);
        }
        const int got = ErrnoAfter(r.wrapped);
        if (got != expected) {
          fprintf(stderr, "%s left errno %d, the C library %d\n", r.name, got, expected);
          _exit(1);
        }
      }
    }
    stop = true;
    contender.join();
    // A failing call leaves the C library's errno.
    FILE* readOnly = fopen("/dev/null", "r");
    CHILD_CHECK(readOnly != nullptr);
    CHILD_CHECK(setvbuf(readOnly, nullptr, _IONBF, 0) == 0);
    errno = 0;
    CHILD_CHECK(zuvo_fprintf(readOnly, "x") < 0 && errno == EBADF);
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

}  // namespace
