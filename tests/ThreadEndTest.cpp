// Threads that end while they hold the standard-library mutex: the library
// releases every level at the thread's end and says so once on standard
// error, and the next thread, which glibc often gives the same pthread_t,
// is never taken for the holder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <string>

#include "OS.h"
#include "TestSupport.h"
#include "ThreadEndHost.h"

namespace {

void* ReturnHoldingTwoLevels(void*) {
  LockTwice(*OS::GetStdLibMutex());
  return nullptr;
}

void* ExitHolding(void*) OS_NO_THREAD_SAFETY_ANALYSIS {
  OS::GetStdLibMutex()->Lock();
  pthread_exit(nullptr);
}

// Runs body on a thread that ends as body makes it (cancelled after a
// moment if cancel), then checks that the mutex is free and that a new
// thread takes it at its first level. Returns what standard error got.
std::string EndHolder(void* (*body)(void*), bool cancel) {
  fflush(stderr);
  const int saved = dup(STDERR_FILENO);
  FILE* errors = tmpfile();
  CHILD_CHECK(saved >= 0 && errors != nullptr);
  CHILD_CHECK(dup2(fileno(errors), STDERR_FILENO) == STDERR_FILENO);

  pthread_t thread;
  CHILD_CHECK(pthread_create(&thread, nullptr, body, nullptr) == 0);
  if (cancel) {
    usleep(50 * 1000);
    CHILD_CHECK(pthread_cancel(thread) == 0);
  }
  CHILD_CHECK(pthread_join(thread, nullptr) == 0);
  fflush(stderr);
  CHILD_CHECK(dup2(saved, STDERR_FILENO) == STDERR_FILENO);

  OSMutex& m = *OS::GetStdLibMutex();
  CHILD_CHECK(OSMutexProtocol::HolderOf(m) == pthread_t{});
  CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 0);
  std::thread([&m]() OS_NO_THREAD_SAFETY_ANALYSIS {
    m.Lock();
    CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 1);  // not taken for the old holder
    m.Unlock();
    CHILD_CHECK(OSMutexProtocol::LevelsOf(m) == 0);
  }).join();
  rewind(errors);
  return ReadAll(fileno(errors));
}

const char kLine[] = "SafeStdLib: a thread ended holding the standard-library mutex";

TEST(ThreadEnd, EveryWayAHolderEndsReleasesItsLevelsAndSaysSo) {
  struct Case {
    void* (*body)(void*);
    bool cancel;
    const char* levels;
  };
  const Case cases[] = {
      {ReturnHoldingTwoLevels, false, "its 2 level(s)"},
      {ExitHolding, false, "its 1 level(s)"},
      {HoldInLockerUntilCancelled, true, "its 1 level(s)"},
  };
  for (const Case& c : cases) {
    const ChildResult child = RunInChild([&c] {
      const std::string said = EndHolder(c.body, c.cancel);
      CHILD_CHECK(said.find(kLine) == 0);
      CHILD_CHECK(said.find(c.levels) != std::string::npos);
      CHILD_CHECK(said.find(kLine, 1) == std::string::npos);  // one line
      CHILD_CHECK(said.back() == '\n' && said.find('\n') == said.size() - 1);
    });
    ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
  }
}

TEST(ThreadEnd, AThreadThatLetGoSaysNothing) {
  const ChildResult child = RunInChild([] {
    const std::string said = EndHolder(
        [](void*) -> void* {
          OSMutexLocker locker(OS::GetStdLibMutex());
          return nullptr;
        },
        false);
    CHILD_CHECK(said.empty());
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

}  // namespace
