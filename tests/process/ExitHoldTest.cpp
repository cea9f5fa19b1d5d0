// Processes that exit while their threads hold streams or fork
// (exit_streams_host): each run must end, with every child it forked,
// within a time limit, so a hang shows as a failure. Ten runs a case.

#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "TestSupport.h"

#if defined(__GLIBC__)
#  include <gnu/libc-version.h>
#endif

namespace {

constexpr int kRuns = 10;

// ThreadSanitizer's runtime does not see glibc's stream locks, so it takes
// a stream's buffer shared by threads for a race: its builds
// (kThreadSanitizer, TestSupport.h) leave that case out. The sanitizers'
// runtimes can wait for ever on a lock of their own (the allocator's, a
// sync object's) in the child of a fork made while other threads work
// (kSanitized, TestSupport.h): their builds leave out the forks made
// during the exit.

// A run ends within about a second; one still going after this has hung.
constexpr int kLimitMillis = 10 * 1000;

struct HostRun {
  bool hung = false;  // the host, or a child it forked, outlived the limit
  int status = -1;
  std::string out;
};

long long NowMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / (1000 * 1000);
}

// Runs exit_streams_host in a process group of its own, with standard
// output a pipe that every child it forks inherits: the pipe reaches its
// end only once the host and all its children have ended. Whatever still
// runs at the limit is killed.
HostRun RunHost(const char* mode) {
  int ends[2];
  if (pipe(ends) != 0) ChildCheckFailed(__FILE__, __LINE__, "pipe()");
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) ChildCheckFailed(__FILE__, __LINE__, "fork()");
  if (pid == 0) {
    setpgid(0, 0);
    if (dup2(ends[1], STDOUT_FILENO) < 0) _exit(126);
    close(ends[0]);
    close(ends[1]);
    ExecTestProgram(SAFESTDLIB_EXIT_STREAMS_HOST, mode);
  }
  setpgid(pid, pid);
  close(ends[1]);
  HostRun run;
  const long long deadline = NowMillis() + kLimitMillis;
  for (;;) {
    const long long left = deadline - NowMillis();
    if (left <= 0) {
      run.hung = true;
      break;
    }
    struct pollfd readable = {ends[0], POLLIN, 0};
    const int ready = poll(&readable, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(ends[0], chunk, sizeof chunk);
    if (n == 0) break;
    if (n > 0) run.out.append(chunk, static_cast<size_t>(n));
  }
  close(ends[0]);
  if (run.hung) kill(-pid, SIGKILL);
  while (waitpid(pid, &run.status, 0) < 0 && errno == EINTR) {
  }
  return run;
}

bool ExitedCleanly(const HostRun& run) {
  return !run.hung && WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0;
}

std::string Describe(const HostRun& run, int number) {
  return "run " + std::to_string(number) + (run.hung ? ": hung" : "") + ", status " +
         std::to_string(run.status) + ", output:\n" + run.out.substr(0, 2000);
}

// Runs the mode kRuns times; each run must end cleanly, and print `needed`
// where it is given.
void ExpectEveryRunEnds(const char* mode, const char* needed = nullptr) {
  for (int number = 0; number < kRuns; ++number) {
    const HostRun run = RunHost(mode);
    ASSERT_TRUE(ExitedCleanly(run)) << Describe(run, number);
    if (needed != nullptr) {
      ASSERT_NE(run.out.find(needed), std::string::npos) << Describe(run, number);
    }
  }
}

// glibc from 2.41 takes a lock of its own for the whole of exit(), which a
// child forked during the parent's exit inherits taken: such a child
// cannot call exit() at all (only _exit()).
bool ChildOfAnExitCanExit() {
#if defined(__GLIBC__)
  int major = 0;
  int minor = 0;
  return sscanf(gnu_get_libc_version(), "%d.%d", &major, &minor) == 2 &&
         (major < 2 || (major == 2 && minor < 41));
#else
  return true;
#endif
}

// The child starts with none of its parent's exit: a usable mutex, and no
// hold to wait for.
TEST(ExitHold, AChildForkedWhileTheHoldWaitsPrints) {
  if (kSanitized) GTEST_SKIP() << "the runtime may hang in a child of a busy process";
  ExpectEveryRunEnds("fork-waiting", "child printed\n");
}

// The parent's hold had started, so the child's own exit holds the mutex
// too: it waits for the child's thread that holds it.
TEST(ExitHold, AChildForkedWhileTheHoldWaitsHoldsAtItsOwnExit) {
  if (!ChildOfAnExitCanExit()) GTEST_SKIP() << "this C library's child of an exit cannot exit()";
  if (!ChildMayStartThreads()) GTEST_SKIP() << "the child of a busy process starts a thread";
  ExpectEveryRunEnds("fork-child-exit", "child's holder let go\n");
}

TEST(ExitHold, HelpersForkedByABusyProcessAtExitNeverHang) {
  if (kSanitized) GTEST_SKIP() << "the runtime may hang in a child of a busy process";
  ExpectEveryRunEnds("fork-busy");
}

// Once the hold has the mutex for good, a routine waits a bounded time and
// then makes its call without it, with the same result, and a print
// prints nothing; a fork then gives a child with a usable mutex.
TEST(ExitHold, AfterTheHoldEveryRoutineGivesItsResultWithoutTheMutex) {
  for (int number = 0; number < 3; ++number) {
    const HostRun run = RunHost(kSanitized ? "after-hold-alone" : "after-hold");
    ASSERT_TRUE(ExitedCleanly(run)) << Describe(run, number);
    for (const char* needed :
         {"every routine gave its result after the hold\n", kSanitized ? "" : "child printed\n"})
      ASSERT_NE(run.out.find(needed), std::string::npos) << needed << Describe(run, number);
    for (const char* refused : {"printed after the hold", "capped after the hold"})
      ASSERT_EQ(run.out.find(refused), std::string::npos) << refused << Describe(run, number);
  }
}

// glibc from 2.41 takes each stream's lock in its final flush: a thread
// that holds a stream and waits for the mutex that the exit holds must not
// wait for good.
TEST(ExitHold, AThreadHoldingAStreamAcrossTheExitDoesNotHangIt) {
  ExpectEveryRunEnds("flockfile");
  ExpectEveryRunEnds("flockfile-loop");
}

TEST(ExitHold, AStreamWhoseWriteFunctionCallsTheRoutinesDoesNotHangTheExit) {
  if (kThreadSanitizer) GTEST_SKIP() << "the runtime takes the stream's own buffer for a race";
  ExpectEveryRunEnds("cookie");
}

}  // namespace
