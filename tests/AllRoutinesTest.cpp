// What holds for every one of the thirteen routines: they lock the
// standard-library mutex, they are recursive with it, and they leave errno
// as their C library call left it.

#include <errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "OS.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

// Each routine with the bare C library call it makes, on the same input.
struct Routine {
  const char* name;
  void (*call)();
  void (*bare)();
};

char gText[64];
struct tm gBrokenDown;
const time_t gWhen = 1000000000;

const Routine kRoutines[] = {
    {"zuvo_maxprintf", [] { zuvo_maxprintf("m"); }, [] { printf("m"); }},
    {"zuvo_getmaxprintfcharsinK", [] { zuvo_getmaxprintfcharsinK(); }, [] {}},
    {"zuvo_setmaxprintfcharsinK", [] { zuvo_setmaxprintfcharsinK(100000); }, [] {}},
    {"zuvo_printf", [] { zuvo_printf("p"); }, [] { printf("p"); }},
    {"zuvo_sprintf", [] { zuvo_sprintf(gText, "%d", 1); }, [] { sprintf(gText, "%d", 1); }},
    {"zuvo_fprintf", [] { zuvo_fprintf(stdout, "f"); }, [] { fprintf(stdout, "f"); }},
    {"zuvo_snprintf", [] { zuvo_snprintf(gText, sizeof gText, "%d", 1); },
     [] { snprintf(gText, sizeof gText, "%d", 1); }},
    {"zuvo_strftime", [] { zuvo_strftime(gText, sizeof gText, "%Y", &gBrokenDown); },
     [] { strftime(gText, sizeof gText, "%Y", &gBrokenDown); }},
    {"zuvo_strerror", [] { zuvo_strerror(EINTR, gText, sizeof gText); }, [] { strerror(EINTR); }},
    {"zuvo_ctime", [] { zuvo_ctime(&gWhen, gText, sizeof gText); }, [] { ctime(&gWhen); }},
    {"zuvo_asctime", [] { zuvo_asctime(&gBrokenDown, gText, sizeof gText); },
     [] { asctime(&gBrokenDown); }},
    {"zuvo_gmtime", [] { zuvo_gmtime(&gWhen, &gBrokenDown); }, [] { gmtime(&gWhen); }},
    {"zuvo_localtime", [] { zuvo_localtime(&gWhen, &gBrokenDown); }, [] { localtime(&gWhen); }},
};

// errno after fn, when it was 4242 before.
int ErrnoAfter(void (*fn)()) {
  errno = 4242;
  fn();
  return errno;
}

TEST(AllRoutines, WaitWhileAHostThreadHoldsTheMutex) {
  const ChildResult child = RunInChild([] {
    for (const Routine& r : kRoutines) {
      ForeignHolder holder;
      Probe probe(r.call);
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
        OSMutex& m = *OS::GetStdLibMutex();
        LockTwice(m);
        // A routine that blocked here would never return: the alarm ends it.
        for (const Routine& r : kRoutines) {
          r.call();
          CHILD_CHECK(OSMutexTestPeer::Levels(m) == 2);
        }
        UnlockTwice(m);
      },
      10);
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

TEST(AllRoutines, LeaveErrnoAsTheCLibraryLeftIt) {
  const ChildResult child = RunInChild([] {
    // Contention makes unlocking wake a waiter; that must not touch errno.
    std::atomic<bool> stop{false};
    std::thread contender([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        OSMutexLocker locker(OS::GetStdLibMutex());
      }
    });
    for (int round = 0; round < 200; ++round) {
      for (const Routine& r : kRoutines) {
        // The bare call runs under the lock too: it shares the C library's
        // static storage with the contender's routines.
        int expected;
        {
          OSMutexLocker locker(OS::GetStdLibMutex());
          expected = ErrnoAfter(r.bare);
        }
        const int got = ErrnoAfter(r.call);
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
