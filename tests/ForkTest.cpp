// fork() while the standard-library mutex is held or in use.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "OS.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

// Makes one call of every routine, as a child would after fork(). Ends the
// process with a failure if any result is wrong.
void CallEveryRoutine() {
  char text[64];
  struct tm broken;
  const time_t when = 86400;
  CHILD_CHECK(zuvo_snprintf(text, sizeof text, "%d", 42) == 2);
  CHILD_CHECK(zuvo_sprintf(text, "%s", "child") == 5);
  CHILD_CHECK(zuvo_strerror(EINVAL, text, sizeof text) == text);
  CHILD_CHECK(zuvo_ctime(&when, text, sizeof text) == text);
  CHILD_CHECK(zuvo_gmtime(&when, &broken) == &broken && broken.tm_mday == 2);
  CHILD_CHECK(zuvo_localtime(&when, &broken) == &broken);
  CHILD_CHECK(zuvo_asctime(&broken, text, sizeof text) == text);
  CHILD_CHECK(zuvo_strftime(text, sizeof text, "%Y", &broken) == 4);
  CHILD_CHECK(zuvo_getmaxprintfcharsinK() == 100000);
  zuvo_setmaxprintfcharsinK(100000);
  CHILD_CHECK(zuvo_fprintf(stdout, "f") == 1);
  CHILD_CHECK(zuvo_printf("p") == 1);
  CHILD_CHECK(zuvo_maxprintf("m") == 1);
}

// ForkAndWait()'s result for a child that outlived its 10 s alarm by 20 s
// and was killed. A child that hangs in its own code dies of the alarm; one
// that cannot even take the signal is not running its code. Under qemu's
// user-mode emulator that happens, rarely, when the emulator itself is
// stuck after fork() on a lock of its own (seen on i686: the child's one
// thread waits on a futex in the emulator's memory, not the program's).
constexpr int kOutlivedItsAlarm = -2;

// Forks from the calling thread; the child runs body under an alarm.
// Returns the child's wait status, or kOutlivedItsAlarm.
template <typename Body>
int ForkAndWait(Body body) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    alarm(10);
    body();
    fflush(stdout);
    _exit(0);
  }
  int status = 0;
  for (int waitedMillis = 0;; ++waitedMillis) {
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) return status;
    if (ended < 0 && errno != EINTR) return -1;
    if (waitedMillis == 30 * 1000) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return kOutlivedItsAlarm;
    }
    usleep(1000);
  }
}

bool Clean(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 0; }

TEST(Fork, WaitsForAnotherThreadsHoldAndChildStartsWithTheMutexFree) {
  const ChildResult result = RunInChild([] {
    ForeignHolder holder;
    std::atomic<int> status{-1};
    Probe forker([&] {
      status = ForkAndWait([] {
        OSMutex& m = *OS::GetStdLibMutex();
        CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 0);
        CallEveryRoutine();
      });
    });
    // fork() takes the mutex first, so it waits for the holder.
    CHILD_CHECK(!forker.FinishedWithin(100));
    holder.Release();
    CHILD_CHECK(forker.FinishedWithin(20000));
    CHILD_CHECK(Clean(status));
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

TEST(Fork, ForkingHolderKeepsItsLevelsInTheChild) {
  const ChildResult result = RunInChild([] {
    OSMutex& m = *OS::GetStdLibMutex();
    LockTwice(m);
    const int status = ForkAndWait([&] {
      CHILD_CHECK(pthread_equal(OSMutexProtocol::HolderOf(m), pthread_self()));
      CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 2);
      CallEveryRoutine();
      UnlockTwice(m);
      CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 0);
      CallEveryRoutine();
    });
    CHILD_CHECK(Clean(status));
    CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 2);
    UnlockTwice(m);
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

// Threads stay busy inside the routines while the main thread forks, one
// fork in four while it holds the mutex itself. No child may hang, and a
// thread started in a child is not taken for the holder.
TEST(Fork, ChildrenOfABusyProcessNeverHang) {
  const ChildResult result = RunInChild(
      [] {
        std::atomic<bool> stop{false};
        std::vector<std::thread> workers;
        for (int t = 0; t < 3; ++t) {
          workers.emplace_back([&, t] {
            char text[64];
            struct tm broken;
            FILE* devNull = fopen("/dev/null", "w");
            for (time_t when = t; !stop.load(std::memory_order_relaxed); when += 3600) {
              zuvo_snprintf(text, sizeof text, "%ld", static_cast<long>(when));
              zuvo_localtime(&when, &broken);
              zuvo_strerror(static_cast<int>(when % 100), text, sizeof text);
              zuvo_fprintf(devNull, "%s\n", text);
              zuvo_maxprintf("%s", "");
            }
            fclose(devNull);
          });
        }
        constexpr int kForks = 200;
        int hung = 0;
        int stuckInEmulator = 0;
        for (int i = 0; i < kForks; ++i) {
          const bool holding = i % 4 == 3;
          OSMutex& m = *OS::GetStdLibMutex();
          if (holding) LockTwice(m);
          const int status = ForkAndWait([holding, &m] {
            CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == (holding ? 2u : 0u));
            if (holding) UnlockTwice(m);
            CallEveryRoutine();
            if (ChildMayStartThreads()) {
              std::thread([] { CallEveryRoutine(); }).join();
            }
          });
          if (holding) UnlockTwice(m);
          if (status == kOutlivedItsAlarm && UnderEmulator()) {
            ++stuckInEmulator;
          } else if (!Clean(status)) {
            ++hung;
          }
        }
        stop = true;
        for (std::thread& w : workers) w.join();
        fprintf(stderr,
                "fork under load: forks=%d hung-or-failed children=%d stuck in the emulator=%d\n",
                kForks, hung, stuckInEmulator);
        CHILD_CHECK(hung == 0);
        CHILD_CHECK(stuckInEmulator <= 2);
      },
      300);
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

}  // namespace
