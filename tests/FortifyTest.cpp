// FortifyTest.cpp: a host built with -O2 -D_FORTIFY_SOURCE (levels 1, 2 and
// 3), the cases of every routine of the list that has a checked entry
// (FortifyCases.h), each from C++ (here) and from C99 (FortifyC.c), in a
// child. A size case given more room than its buffer has ends the process
// as glibc's fortified snprintf does, "buffer overflow detected", at every
// level; from level 2 on, against glibc, a format case that glibc's
// printers refuse ends it with glibc's message. Either way the routine
// holds no lock once it has failed, as glibc's own tst-fortify.c sees when
// its SIGABRT handler jumps back; every other case does what the plain
// routine does.
#include <errno.h>
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <thread>

#include "FortifyCases.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

#if !defined(_FORTIFY_SOURCE) || !defined(__OPTIMIZE__)
#  error "FortifyTest.cpp is built with -O2 -D_FORTIFY_SOURCE"
#endif

// glibc's printers check their formats from level 2 on.
#if _FORTIFY_SOURCE >= 2 && defined(__GLIBC__)
constexpr bool kFormatsChecked = true;
#else
constexpr bool kFormatsChecked = false;
#endif

namespace {

const char kText[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

// ---- The C++ size cases, twins of FortifyC.c's.

__attribute__((format(printf, 2, 3))) bool HostFormat(int n, const char* fmt, ...) {
  char buffer[8];
  va_list args;
  va_start(args, fmt);
  const int result = zuvo_vsprintf(buffer, fmt, args);
  va_end(args);
  return result == n && strlen(buffer) == static_cast<size_t>(n);
}

__attribute__((format(printf, 2, 3))) bool HostFormatN(size_t size, const char* fmt, ...) {
  char buffer[8];
  va_list args;
  va_start(args, fmt);
  const int result = zuvo_vsnprintf(buffer, size, fmt, args);
  va_end(args);
  return result == 64 && strlen(buffer) == size - 1;
}

struct tm Epoch() {
  const time_t when = 0;
  struct tm brokenDown = {};
  zuvo_gmtime(&when, &brokenDown);
  return brokenDown;
}

bool CxxSize_zuvo_sprintf(int extra) {
  char buffer[8];
  const int n = 7 + extra;
  return zuvo_sprintf(buffer, "%.*s", n, kText) == n && strlen(buffer) == static_cast<size_t>(n);
}
bool CxxSize_zuvo_vsprintf(int extra) { return HostFormat(7 + extra, "%.*s", 7 + extra, kText); }
bool CxxSize_zuvo_snprintf(int extra) {
  char buffer[8];
  const size_t size = static_cast<size_t>(8 + extra);
  return zuvo_snprintf(buffer, size, "%s", kText) == 64 && strlen(buffer) == size - 1;
}
bool CxxSize_zuvo_vsnprintf(int extra) {
  return HostFormatN(static_cast<size_t>(8 + extra), "%s", kText);
}
bool CxxSize_zuvo_strftime(int extra) {
  char buffer[8];
  const struct tm brokenDown = Epoch();
  return zuvo_strftime(buffer, static_cast<size_t>(8 + extra), "%Y-%m-%d %H:%M:%S", &brokenDown) ==
             0 &&
         buffer[0] == '\0';
}
bool CxxSize_zuvo_strerror(int extra) {
  char buffer[8];
  const int n = 8 + extra;
  return zuvo_strerror(ENOENT, buffer, n) == buffer && strlen(buffer) == static_cast<size_t>(n - 1);
}
bool CxxSize_zuvo_ctime(int extra) {
  char buffer[8];
  const time_t when = 0;
  const int n = 8 + extra;
  return zuvo_ctime(&when, buffer, n) == buffer && strlen(buffer) == static_cast<size_t>(n - 1);
}
bool CxxSize_zuvo_asctime(int extra) {
  char buffer[8];
  const struct tm brokenDown = Epoch();
  const int n = 8 + extra;
  return zuvo_asctime(&brokenDown, buffer, n) == buffer &&
         strlen(buffer) == static_cast<size_t>(n - 1);
}

// ---- The C++ format cases, twins of FortifyC.c's, and the capped
// printer's.

// Runs call(fmt, &count) with the format of kind; whether its result and
// count are right.
template <class Call>
bool FormatCase(int kind, Call call) {
  char writable[sizeof kFortifyCountFormat];
  const char* fmt = FortifyFormatOf(kind, writable);
  int count = -1;
  const int result = call(fmt, &count);
  return FortifyFormatRight(kind, result, count) != 0;
}

__attribute__((format(printf, 2, 3))) int HostPrint(int (*print)(const char*, va_list),
                                                    const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int result = print(fmt, args);
  va_end(args);
  return result;
}

char gBuffer[16];

#define CXX_FORMAT_CASE(name, call)                                            \
  bool CxxFormat_##name(int kind) {                                            \
    return FormatCase(kind, [](const char* fmt, int* count) { return call; }); \
  }
CXX_FORMAT_CASE(zuvo_printf, zuvo_printf(fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_fprintf, zuvo_fprintf(stdout, fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_sprintf, zuvo_sprintf(gBuffer, fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_snprintf, zuvo_snprintf(gBuffer, sizeof gBuffer, fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_maxprintf, zuvo_maxprintf(fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_vprintf, HostPrint([](const char* f, va_list a) { return zuvo_vprintf(f, a); },
                                        fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_vfprintf,
                HostPrint([](const char* f, va_list a) { return zuvo_vfprintf(stdout, f, a); }, fmt,
                          count, "x", "y"))
CXX_FORMAT_CASE(zuvo_vsprintf,
                HostPrint([](const char* f, va_list a) { return zuvo_vsprintf(gBuffer, f, a); },
                          fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_vsnprintf,
                HostPrint([](const char* f,
                             va_list a) { return zuvo_vsnprintf(gBuffer, sizeof gBuffer, f, a); },
                          fmt, count, "x", "y"))
CXX_FORMAT_CASE(zuvo_vmaxprintf,
                HostPrint([](const char* f, va_list a) { return zuvo_vmaxprintf(f, a); }, fmt,
                          count, "x", "y"))

// ---- The cases of the list.

struct SizeCase {
  const char* name;
  bool (*cxx)(int extra);
  int (*c)(int extra);
};
struct FormatCaseRow {
  const char* name;
  bool (*cxx)(int kind);
  int (*c)(int kind);  // null for the capped printer, which is C++
};

#define SIZE_ROW_C_CHECKED(name) {#name, CxxSize_##name, FORTIFY_SIZE_CASE(name)},
#define SIZE_ROW_C_CHECKED_AND_FORMAT_CHECKED(name) SIZE_ROW_C_CHECKED(name)
#define SIZE_ROW_C_FORMAT_CHECKED(name)
#define SIZE_ROW_C_PLAIN(name)
#define SIZE_ROW_CXX_FORMAT_CHECKED(name)
#define SIZE_ROW_CXX_PLAIN(name)
const SizeCase kSizeCases[] = {
#define SAFESTDLIB_ROUTINE(name, linkage, kind, checked) SIZE_ROW_##linkage##_##checked(name)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
};

#define FORMAT_ROW_C_FORMAT_CHECKED(name) {#name, CxxFormat_##name, FORTIFY_FORMAT_CASE(name)},
#define FORMAT_ROW_C_CHECKED_AND_FORMAT_CHECKED(name) FORMAT_ROW_C_FORMAT_CHECKED(name)
#define FORMAT_ROW_CXX_FORMAT_CHECKED(name) {#name, CxxFormat_##name, nullptr},
#define FORMAT_ROW_C_CHECKED(name)
#define FORMAT_ROW_C_PLAIN(name)
#define FORMAT_ROW_CXX_PLAIN(name)
const FormatCaseRow kFormatCases[] = {
#define SAFESTDLIB_ROUTINE(name, linkage, kind, checked) FORMAT_ROW_##linkage##_##checked(name)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
};

// The test's name, for a failure's message.
void PrintTo(const SizeCase& routine, std::ostream* out) { *out << routine.name; }
void PrintTo(const FormatCaseRow& routine, std::ostream* out) { *out << routine.name; }

// ---- Running a case in a child.

sigjmp_buf gAborted;
void JumpBack(int) { siglongjmp(gAborted, 1); }

// Whether another thread can take the mutex and standard output's lock:
// none is left held by this one.
bool LocksFree() OS_NO_THREAD_SAFETY_ANALYSIS {
  if (!ChildMayStartThreads()) return !OSMutexProtocol::HeldByCaller(*OS::GetStdLibMutex());
  bool mutexFree = false, streamFree = false;
  std::thread([&]() OS_NO_THREAD_SAFETY_ANALYSIS {
    OSMutex* mutex = OS::GetStdLibMutex();
    if ((mutexFree = mutex->TryLock())) mutex->Unlock();
    if ((streamFree = ftrylockfile(stdout) == 0)) funlockfile(stdout);
  }).join();
  return mutexFree && streamFree;
}

// In a child: runs call with a SIGABRT handler that jumps back, as glibc's
// tst-fortify.c does, and exits 0 if it aborted and left no lock held, 1
// if it returned, 2 if it left a lock held.
[[noreturn]] void AbortsHoldingNothing(const std::function<void()>& call) {
  struct sigaction jump = {};
  jump.sa_handler = JumpBack;
  sigaction(SIGABRT, &jump, nullptr);
  if (sigsetjmp(gAborted, 1) == 0) {
    call();
    _exit(1);
  }
  _exit(LocksFree() ? 0 : 2);
}

// In a child: exits 0 if call() is true.
[[noreturn]] void Succeeds(const std::function<bool()>& call) { _exit(call() ? 0 : 1); }

template <class Case>
class FortifyCases : public testing::TestWithParam<Case> {
 protected:
  // glibc writes its failure to the terminal when there is one, unless told
  // to use standard error.
  void SetUp() override { setenv("LIBC_FATAL_STDERR_", "1", 1); }
};

class FortifySize : public FortifyCases<SizeCase> {};

TEST_P(FortifySize, RoomThatFitsWorks) {
  const SizeCase& routine = GetParam();
  EXPECT_TRUE(routine.cxx(0)) << "from C++";
  EXPECT_TRUE(routine.c(0)) << "from C";
}

// One byte too many, and 64 bytes for an 8-byte buffer: the child must die
// before writing past it, holding nothing.
TEST_P(FortifySize, TooMuchRoomAborts) {
  const SizeCase& routine = GetParam();
  for (int extra : {1, 56}) {
    EXPECT_EXIT(AbortsHoldingNothing([&] { routine.cxx(extra); }), testing::ExitedWithCode(0),
                "buffer overflow detected")
        << "from C++, " << extra << " bytes too many";
    EXPECT_EXIT(AbortsHoldingNothing([&] { routine.c(extra); }), testing::ExitedWithCode(0),
                "buffer overflow detected")
        << "from C, " << extra << " bytes too many";
  }
}

INSTANTIATE_TEST_SUITE_P(Routines, FortifySize, testing::ValuesIn(kSizeCases),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                           return std::string(info.param.name);
                         });

class FortifyFormat : public FortifyCases<FormatCaseRow> {};

// Each in a child: the capped printer's total lives as long as the process.
TEST_P(FortifyFormat, ChecksAsGlibcDoes) {
  const FormatCaseRow& routine = GetParam();
  for (int kind = 0; kind < kFortifyFormatKinds; ++kind) {
    const bool refused =
        kFormatsChecked && (kind == kFortifyCountWritable || kind == kFortifyArgumentUnnamed);
    // The running glibc's own words: glibc 2.43 says "segments".
    const char* message = kind == kFortifyCountWritable ? "%n in writable segments? detected"
                                                        : "invalid %N. use detected";
    for (bool fromC : {false, true}) {
      if (fromC && routine.c == nullptr) continue;
      auto call = [&] { return fromC ? routine.c(kind) != 0 : routine.cxx(kind); };
      if (refused)
        EXPECT_EXIT(AbortsHoldingNothing(call), testing::ExitedWithCode(0), message)
            << "kind " << kind << (fromC ? ", from C" : ", from C++");
      else
        EXPECT_EXIT(Succeeds(call), testing::ExitedWithCode(0), "")
            << "kind " << kind << (fromC ? ", from C" : ", from C++");
    }
  }
}

// The checks come before the routine takes any lock: with another thread
// holding the mutex, a format to refuse is refused at once.
TEST_P(FortifyFormat, ChecksBeforeTakingTheLock) {
  if (!kFormatsChecked) GTEST_SKIP() << "formats are checked from level 2 on, against glibc";
  if (!ChildMayStartThreads()) GTEST_SKIP() << "a child here cannot start a thread";
  const FormatCaseRow& routine = GetParam();
  for (int kind : {kFortifyCountWritable, kFortifyArgumentUnnamed}) {
    EXPECT_EXIT(
        {
          ForeignHolder holder;
          alarm(10);
          routine.cxx(kind);
          _exit(1);
        },
        testing::KilledBySignal(SIGABRT), "detected")
        << "kind " << kind;
  }
}

INSTANTIATE_TEST_SUITE_P(Routines, FortifyFormat, testing::ValuesIn(kFormatCases),
                         [](const testing::TestParamInfo<FormatCaseRow>& info) {
                           return std::string(info.param.name);
                         });

// The guards come before the checks, with the plain routines' results.
TEST(FortifyGuards, NullAndShortBuffersKeepThePlainResults) {
  char* none = nullptr;
  char buffer[8];
  const time_t when = 0;
  EXPECT_EQ(zuvo_snprintf(none, 64, "%s", kText), -1);
  EXPECT_EQ(zuvo_sprintf(none, "%s", kText), -1);
  EXPECT_EQ(zuvo_strftime(none, 64, "%Y", nullptr), 0u);
  EXPECT_EQ(zuvo_strerror(ENOENT, none, 64), nullptr);
  volatile int zero = 0, negative = -1;
  EXPECT_EQ(zuvo_ctime(&when, buffer, zero), nullptr);
  EXPECT_EQ(zuvo_asctime(nullptr, buffer, negative), nullptr);
  FILE* noFile = nullptr;
  const char* noFormat = nullptr;
  EXPECT_EQ(zuvo_fprintf(noFile, "%s", kText), -1);
  EXPECT_EQ(zuvo_printf_fchk(1, noFormat, 0), -1);
  EXPECT_EQ(zuvo_maxprintf_fchk(1, noFormat, 0), -1);
}

// Each argument is evaluated once, on the checked path as on the plain one.
TEST(FortifyCalls, EachArgumentEvaluatedOnce) {
  char buffer[8];
  char* buffers[1] = {buffer};
  int sizes = 0, formats = 0, args = 0, buffersTaken = 0;
  auto size = [&sizes] { return ++sizes, sizeof buffer; };
  auto format = [&formats] { return ++formats, "%d"; };
  auto arg = [&args] { return ++args; };
  EXPECT_EQ(zuvo_snprintf(buffer, size(), format(), arg()), 1);                   // checked
  EXPECT_EQ(zuvo_snprintf(buffers[buffersTaken++], size(), format(), arg()), 1);  // plain
  EXPECT_EQ(zuvo_sprintf(buffer, format(), arg()), 1);
  EXPECT_EQ(zuvo_strerror(arg(), buffer, static_cast<int>(size())), buffer);
  EXPECT_EQ(sizes, 3);
  EXPECT_EQ(formats, 3);
  EXPECT_EQ(args, 4);
  EXPECT_EQ(buffersTaken, 1);
}

// The address is the plain routine; the name in parentheses is the same
// function as without them, checked.
TEST(FortifyCalls, TheAddressIsThePlainRoutine) {
  setenv("LIBC_FATAL_STDERR_", "1", 1);
  char buffer[8];
  int (*plain)(char*, size_t, const char*, ...) = &zuvo_snprintf;
  volatile size_t room = 64;
  EXPECT_EQ(plain(buffer, sizeof buffer, "%d", 42), 2);
  EXPECT_EXIT(AbortsHoldingNothing([&room] {
                char own[8];
                (zuvo_snprintf)(own, room, "%d", 43);
              }),
              testing::ExitedWithCode(0), "buffer overflow detected");
}

TEST(FortifyCalls, SizesKnownToFitAndUnknownBuffersWork) {
  char buffer[64];
  EXPECT_TRUE(FortifyPlainCalls(buffer, sizeof buffer));
}

}  // namespace
