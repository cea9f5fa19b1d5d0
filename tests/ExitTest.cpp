// A real process that returns from main() while its threads print, run as a
// program of its own (exit_host) and read whole.

#include <gtest/gtest.h>
#include <stdlib.h>
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

// Every line of the threads' output is whole and printed once, each
// thread's lines run from 0 without a gap, and the exit handler and the
// static destructor, which run while the threads still print, print too.
// Returns what is wrong, or "".
std::string Faults(const std::string& out) {
  const std::string payload = " ..........................................................";
  std::istringstream lines(out);
  std::string line;
  std::set<std::pair<int, int>> seen;
  int next[3] = {0, 0, 0};
  bool handler = false;
  bool destructor = false;
  while (std::getline(lines, line)) {
    int thread = -1;
    int number = -1;
    int used = 0;
    if (line == "exit handler") {
      handler = true;
    } else if (line == "static destructor") {
      destructor = true;
    } else if (sscanf(line.c_str(), "T%d L%d%n", &thread, &number, &used) != 2 || thread < 0 ||
               thread > 2 || line.substr(static_cast<size_t>(used)) != payload) {
      return "torn line: " + line;
    } else if (!seen.insert({thread, number}).second) {
      return "line written twice: " + line;
    } else if (number != next[thread]++) {
      return "line missing before: " + line;
    }
  }
  if (!out.empty() && out.back() != '\n') return "output ends inside a line";
  if (!handler || !destructor) return "the exit handler or the static destructor did not print";
  return "";
}

TEST(Exit, ThreadsPrintingWhileMainReturnsLeaveWholeLines) {
  for (int run = 0; run < 20; ++run) {
    const ChildResult host = RunExitHost("print");
    ASSERT_TRUE(host.ExitedCleanly()) << host.Describe();
    ASSERT_EQ(Faults(host.out), "") << "run " << run;
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
