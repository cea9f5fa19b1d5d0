// TestSupport.h: helpers shared by the test binaries.
//
// Most cases run in a forked child: the capped printer's running total lives
// for the whole process and never resets, and a case that captures standard
// output must not disturb the test runner's own.
#ifndef SafeStdLib_TestSupport_H
#define SafeStdLib_TestSupport_H

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <functional>
#include <future>
#include <string>
#include <thread>

#include "OS.h"
#include "OSMutex.h"
#include "OSUtilities/internal/OSMutexProtocol.h"

// Take and give up two levels of m. Nested locking is what the tests check,
// and clang's analysis flags it, so it stays out of the analysis here.
inline void LockTwice(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS {
  m.Lock();
  m.Lock();
}
inline void UnlockTwice(OSMutex& m) OS_NO_THREAD_SAFETY_ANALYSIS {
  m.Unlock();
  m.Unlock();
}

// What a child left behind: its wait status and everything it wrote to
// standard output.
struct ChildResult {
  int status = 0;
  std::string out;
  bool ExitedCleanly() const;
  // Explains a failed child: its status as text.
  std::string Describe() const;
};

// kThreadSanitizer and kAddressSanitizer: the build is that sanitizer's
// (g++ says so with a macro, clang with __has_feature).
#if defined(__has_feature)
#  define SAFESTDLIB_TEST_HAS_FEATURE(feature) __has_feature(feature)
#else
#  define SAFESTDLIB_TEST_HAS_FEATURE(feature) 0
#endif
#if defined(__SANITIZE_THREAD__) || SAFESTDLIB_TEST_HAS_FEATURE(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#if defined(__SANITIZE_ADDRESS__) || SAFESTDLIB_TEST_HAS_FEATURE(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
// The sanitizers' runtimes cannot start a thread in the child of a process
// whose other threads were busy at fork(): their own state may be mid-update.
// Nor can qemu's user-mode emulator, which the test runner names in
// SAFESTDLIB_EMULATOR when it runs the tests under one.
constexpr bool kSanitized = kThreadSanitizer || kAddressSanitizer;

inline bool UnderEmulator() {
  const char* emulator = getenv("SAFESTDLIB_EMULATOR");
  return emulator != nullptr && *emulator != '\0';
}

inline bool ChildMayStartThreads() { return !kSanitized && !UnderEmulator(); }

// Runs body in a forked child with standard output going to a fresh file,
// and returns once the child has ended. The child exits 0 when body returns;
// CHILD_CHECK ends it early with a failure. A child still running after
// timeoutSeconds is killed by SIGALRM.
ChildResult RunInChild(const std::function<void()>& body, unsigned timeoutSeconds = 30);

// Ends a child with exit code 1 and a message on standard error when cond is
// false. For use inside RunInChild bodies, where gtest assertions would be
// lost.
#define CHILD_CHECK(cond) ((cond) ? (void)0 : ::ChildCheckFailed(__FILE__, __LINE__, #cond))
[[noreturn]] void ChildCheckFailed(const char* file, int line, const char* what);

// A thread that takes the standard-library mutex and holds it until
// Release() or destruction. The constructor returns once it holds it.
class ForeignHolder {
 public:
  ForeignHolder();
  ~ForeignHolder();
  void Release();

 private:
  std::promise<void> fRelease;
  std::thread fThread;
};

// Runs fn on a new thread. FinishedWithin() tells whether it ended within
// the given time; the destructor waits for it to end.
class Probe {
 public:
  explicit Probe(std::function<void()> fn);
  ~Probe();
  bool FinishedWithin(int waitMillis);

 private:
  std::future<void> fDone;
  std::thread fThread;
};

// Whether two broken-down times agree in every field, zone name included.
inline bool SameTime(const struct tm& a, const struct tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
         a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst &&
         a.tm_gmtoff == b.tm_gmtoff && strcmp(a.tm_zone, b.tm_zone) == 0;
}

// Replaces the process with the test program at path, given one argument,
// under the emulator the test runner names in SAFESTDLIB_EMULATOR (the
// emulator and its options, separated by '|') when it names one.
[[noreturn]] void ExecTestProgram(const char* path, const char* arg);

// Reads a file descriptor to its end.
std::string ReadAll(int fd);

#endif  // SafeStdLib_TestSupport_H
