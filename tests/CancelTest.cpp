// Threads cancelled while blocked in a C library write, inside a routine.
//
// Built twice, against the library compiled at -O0 and at -O2: the
// locker's cleanup must run on cancellation at every optimisation level.

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "OS.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

// More than a pipe holds, so the write blocks once the pipe is full.
const std::string kBigText(1 << 20, 'c');
const char* const gBigText = kBigText.c_str();

struct Pipe {
  int readEnd = -1;
  int writeEnd = -1;
  Pipe() {
    int fds[2];
    CHILD_CHECK(pipe(fds) == 0);
    readEnd = fds[0];
    writeEnd = fds[1];
  }
};

// Starts body on a thread, waits until the pipe is full and the thread is
// blocked, cancels it, and drains the pipe. Returns the bytes that reached
// the pipe.
size_t CancelBlockedWriter(const Pipe& p, void* (*body)(void*), void* arg) {
  pthread_t thread;
  CHILD_CHECK(pthread_create(&thread, nullptr, body, arg) == 0);
  // Once its first bytes arrive, the writer fills the pipe and blocks within
  // milliseconds; give it time. A loaded machine may be slow to start it.
  pollfd started = {p.readEnd, POLLIN, 0};
  CHILD_CHECK(poll(&started, 1, 10 * 1000) == 1);
  usleep(200 * 1000);
  CHILD_CHECK(pthread_cancel(thread) == 0);
  void* exitValue = nullptr;
  CHILD_CHECK(pthread_join(thread, &exitValue) == 0);
  CHILD_CHECK(exitValue == PTHREAD_CANCELED);
  close(p.writeEnd);
  return ReadAll(p.readEnd).size();
}

void CheckMutexFree() {
  OSMutex& m = *OS::GetStdLibMutex();
  CHILD_CHECK(OSMutexProtocol::HolderOf(m) == pthread_t{});
  CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 0);
  std::thread([]() OS_NO_THREAD_SAFETY_ANALYSIS {
    // The lock must be free for a thread that never held it.
    CHILD_CHECK(OS::GetStdLibMutex()->TryLock());
    OS::GetStdLibMutex()->Unlock();
  }).join();
}

// The cancelled threads' bodies have no C++ cleanups of their own, except
// where a test is about them: with libc++ over LLVM's libunwind (Debian's
// clang++ -stdlib=libc++), glibc's cancellation, which unwinds with libgcc's
// unwinder, crashes in any frame that has one.

void* FprintfBigText(void* file) {
  zuvo_fprintf(static_cast<FILE*>(file), "%s", gBigText);
  return nullptr;
}

void* FprintfBigTextHoldingTwoLevelsInLockers(void* file) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutexLocker outer(OS::GetStdLibMutex());
  OSMutexLocker inner(OS::GetStdLibMutex());
  zuvo_fprintf(static_cast<FILE*>(file), "%s", gBigText);
  return nullptr;
}

// The thread's own two levels outlive it; the library releases them at its
// end, and says so.
void* FprintfBigTextHoldingTwoLevels(void* file) {
  LockTwice(*OS::GetStdLibMutex());
  zuvo_fprintf(static_cast<FILE*>(file), "%s", gBigText);
  return nullptr;
}

void* PrintfBigText(void*) {
  zuvo_printf("%s", gBigText);
  return nullptr;
}

void* MaxprintfBigText(void*) {
  zuvo_maxprintf("%s", gBigText);
  return nullptr;
}

void CancelFprintf(void* (*body)(void*)) {
  Pipe p;
  FILE* file = fdopen(p.writeEnd, "w");
  CHILD_CHECK(file != nullptr);
  CHILD_CHECK(setvbuf(file, nullptr, _IONBF, 0) == 0);
  const size_t written = CancelBlockedWriter(p, body, file);
  CHILD_CHECK(written > 0 && written < kBigText.size());
  CheckMutexFree();
  // The stream's own lock was released too.
  CHILD_CHECK(ftrylockfile(file) == 0);
  funlockfile(file);
}

// Points standard output, unbuffered, at a fresh pipe.
Pipe RedirectStdout() {
  Pipe p;
  CHILD_CHECK(dup2(p.writeEnd, STDOUT_FILENO) == STDOUT_FILENO);
  CHILD_CHECK(setvbuf(stdout, nullptr, _IONBF, 0) == 0);
  return p;
}

TEST(Cancel, FprintfReleasesTheMutexAndTheStream) {
  const ChildResult result = RunInChild([] { CancelFprintf(FprintfBigText); });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

TEST(Cancel, FprintfReleasesEveryLevelTheThreadHeldInLockers) {
#if defined(_LIBCPP_VERSION)
  GTEST_SKIP() << "glibc's cancellation cannot unwind libc++'s frames";
#endif
  const ChildResult result =
      RunInChild([] { CancelFprintf(FprintfBigTextHoldingTwoLevelsInLockers); });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

// The print's own level goes back once, as the print is left, and the two
// the thread took by hand at the thread's end: the library's line on
// standard error names exactly those two.
TEST(Cancel, FprintfReleasesItsLevelAndTheThreadsEndTheRest) {
  const ChildResult result = RunInChild([] {
    FILE* errors = tmpfile();
    CHILD_CHECK(errors != nullptr && dup2(fileno(errors), STDERR_FILENO) == STDERR_FILENO);
    CancelFprintf(FprintfBigTextHoldingTwoLevels);
    rewind(errors);
    const std::string said = ReadAll(fileno(errors));
    CHILD_CHECK(said.find("its 2 level(s) are released\n") != std::string::npos);
    CHILD_CHECK(said.find('\n') == said.size() - 1);
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

TEST(Cancel, PrintfReleasesTheMutexAndStdout) {
  const ChildResult result = RunInChild([] {
    Pipe p = RedirectStdout();
    close(p.writeEnd);
    p.writeEnd = STDOUT_FILENO;
    CHILD_CHECK(CancelBlockedWriter(p, PrintfBigText, nullptr) > 0);
    CheckMutexFree();
    CHILD_CHECK(ftrylockfile(stdout) == 0);
    funlockfile(stdout);
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

TEST(Cancel, MaxprintfCountsNothingForTheCancelledPrint) {
  const ChildResult result = RunInChild([] {
    Pipe p = RedirectStdout();
    close(p.writeEnd);
    p.writeEnd = STDOUT_FILENO;
    CHILD_CHECK(CancelBlockedWriter(p, MaxprintfBigText, nullptr) > 0);
    CheckMutexFree();
    CHILD_CHECK(ftrylockfile(stdout) == 0);
    funlockfile(stdout);
    // With the limit at 0, a print is allowed only while the total is 0.
    CHILD_CHECK(freopen("/dev/null", "w", stdout) != nullptr);
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(zuvo_maxprintf("x") == 1);
    CHILD_CHECK(zuvo_maxprintf("x") == -1);
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

// A routine that is not a printer is no cancellation point, even while it
// waits: neither the stall line it writes nor the tracer it calls acts on a
// cancellation. A thread cancelled while it waits in zuvo_snprintf returns
// from it, having counted its wait, and is cancelled at its own next
// cancellation point.
int gReturned = 0;  // atomically

void SleepingTracer(const char*, const void*, UInt64) { usleep(1000); }

// The buffer lives in a frame of its own that returns before the thread is
// cancelled: AddressSanitizer keeps the poisoned guard bytes of a frame that
// a cancellation unwinds, and reports the thread's own exit as writing to
// them when fake stacks are off.
[[gnu::noinline]] void SnprintfOnce() {
  char text[16];
  zuvo_snprintf(text, sizeof text, "%d", 42);
}

void* SnprintfThenTestCancel(void*) {
  SnprintfOnce();
  __atomic_store_n(&gReturned, 1, __ATOMIC_RELAXED);
  pthread_testcancel();
  return nullptr;
}

TEST(Cancel, ARoutineThatIsNotAPrinterIsNoCancellationPointWhileItWaits) {
  const ChildResult result = RunInChild([] {
    FILE* errors = tmpfile();
    const int savedStderr = dup(STDERR_FILENO);
    CHILD_CHECK(errors != nullptr && savedStderr >= 0);
    CHILD_CHECK(dup2(fileno(errors), STDERR_FILENO) == STDERR_FILENO);
    // Two stalls, each with its line, then a wait that the tracer sees.
    // What each round saw is checked once standard error is back, where a
    // failed check can say so.
    bool returned[3] = {false, false, false};
    bool cancelled[3] = {false, false, false};
    for (int round = 0; round < 3; ++round) {
      OS::SetStdLibMutexStallMillis(round < 2 ? 20 : 0);
      OS::SetStdLibMutexTracer(round < 2 ? nullptr : SleepingTracer);
      __atomic_store_n(&gReturned, 0, __ATOMIC_RELAXED);
      ForeignHolder holder;
      pthread_t thread;
      CHILD_CHECK(pthread_create(&thread, nullptr, SnprintfThenTestCancel, nullptr) == 0);
      usleep(5 * 1000);
      CHILD_CHECK(pthread_cancel(thread) == 0);
      usleep(60 * 1000);  // past the stall line
      holder.Release();
      void* exitValue = nullptr;
      CHILD_CHECK(pthread_join(thread, &exitValue) == 0);
      cancelled[round] = exitValue == PTHREAD_CANCELED;
      returned[round] = __atomic_load_n(&gReturned, __ATOMIC_RELAXED) == 1;
    }
    OS::SetStdLibMutexTracer(nullptr);
    CHILD_CHECK(dup2(savedStderr, STDERR_FILENO) == STDERR_FILENO);
    for (int round = 0; round < 3; ++round) {
      CHILD_CHECK(cancelled[round]);
      CHILD_CHECK(returned[round]);
    }
    CheckMutexFree();
    rewind(errors);
    const std::string said = ReadAll(fileno(errors));
    const std::string stall =
        "SafeStdLib: waited 20 ms for the standard-library mutex; 1 thread(s) wait";
    CHILD_CHECK(said.find(stall) == 0);
    CHILD_CHECK(said.find(stall, 1) != std::string::npos);
    CHILD_CHECK(std::count(said.begin(), said.end(), '\n') == 2);
  });
  ASSERT_TRUE(result.ExitedCleanly()) << result.Describe();
}

}  // namespace
