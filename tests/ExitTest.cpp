// A real process that returns from main() while its threads print, run as a
// program of its own (exit_host) and read whole.

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "TestSupport.h"

namespace {

// Runs exit_host with one argument, under the test runner's emulator if it
// names one; returns what it printed and how it ended.
ChildResult RunExitHost(const char* mode) {
  return RunInChild([mode] { ExecTestProgram(SAFESTDLIB_EXIT_HOST, mode); });
}

// Runs exit_host slow with standard output a pipe that is read only from
// 1.5 s on, long after main() has returned with both threads
// blocked in a print, and after the half second that the exit waits for a
// holder that is not printing, even on a loaded machine.
ChildResult RunExitHostWithLateReader() {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) ChildCheckFailed(__FILE__, __LINE__, "pipe()");
  fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) ChildCheckFailed(__FILE__, __LINE__, "fork()");
  if (pid == 0) {
    alarm(30);
    if (dup2(pipeEnds[1], STDOUT_FILENO) < 0) _exit(126);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    ExecTestProgram(SAFESTDLIB_EXIT_HOST, "slow");
  }
  close(pipeEnds[1]);
  const struct timespec late = {1, 500 * 1000 * 1000};
  nanosleep(&late, nullptr);
  ChildResult result;
  result.out = ReadAll(pipeEnds[0]);
  close(pipeEnds[0]);
  while (waitpid(pid, &result.status, 0) < 0) {
    if (errno != EINTR) ChildCheckFailed(__FILE__, __LINE__, "waitpid()");
  }
  return result;
}

// Every line of the threads' output is whole and printed once, each of the
// threads' lines run from 0 without a gap, and the output ends with a whole
// line. In print mode the exit handler and the static destructor, which run
// while the threads still print, print too. The lines are longer than the
// piece in which glibc writes to an unbuffered stream, as each stream is
// after the exit's flush, so a print begun after the flush and cut by the
// process's end shows. Returns what is wrong, or "".
std::string Faults(const std::string& out, int threads, bool exitPrints) {
  const std::string payload = " " + std::string(300, '.');
  std::istringstream lines(out);
  std::string line;
  std::set<std::pair<int, int>> seen;
  int next[4] = {0, 0, 0, 0};
  bool handler = false;
  bool destructor = false;
  while (std::getline(lines, line)) {
    int thread = -1;
    int number = -1;
    int used = 0;
    if (exitPrints && line == "exit handler") {
      handler = true;
    } else if (exitPrints && line == "static destructor") {
      destructor = true;
    } else if (sscanf(line.c_str(), "T%d L%d%n", &thread, &number, &used) != 2 || thread < 0 ||
               thread >= threads || line.substr(static_cast<size_t>(used)) != payload) {
      return "torn line: " + line;
    } else if (!seen.insert({thread, number}).second) {
      return "line written twice: " + line;
    } else if (number != next[thread]++) {
      return "line missing before: " + line;
    }
  }
  if (!out.empty() && out.back() != '\n') return "output ends inside a line";
  if (exitPrints && (!handler || !destructor))
    return "the exit handler or the static destructor did not print";
  return "";
}

TEST(Exit, ThreadsPrintingWhileMainReturnsLeaveWholeLines) {
  for (int run = 0; run < 40; ++run) {
    const ChildResult host = RunExitHost("print");
    ASSERT_TRUE(host.ExitedCleanly()) << host.Describe();
    ASSERT_EQ(Faults(host.out, 4, true), "") << "run " << run;
  }
}

// The prints blocked on the reader at exit are waited for, not torn by the
// exit's flush or written again by it.
TEST(Exit, PrintsBlockedOnALateReaderAtExitAreWholeAndOnce) {
  for (int run = 0; run < 2; ++run) {
    const ChildResult host = RunExitHostWithLateReader();
    ASSERT_TRUE(host.ExitedCleanly()) << host.Describe();
    ASSERT_EQ(Faults(host.out, 2, false), "") << "run " << run;
  }
}

TEST(Exit, AHolderThatNeverLetsGoDoesNotStopTheExit) {
  const auto start = std::chrono::steady_clock::now();
  const ChildResult host = RunExitHost("stuck");
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(host.ExitedCleanly()) << host.Describe();
  // The library waits half a second; RunInChild's alarm ends a hung exit.
  EXPECT_LT(took, std::chrono::seconds(20));
}

}  // namespace
