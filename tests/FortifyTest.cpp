// FortifyTest.cpp: a host built with -O2 -D_FORTIFY_SOURCE (level 2, and 3
// where the compiler has __builtin_dynamic_object_size): every routine that
// writes a caller's buffer, given more room than the buffer has, ends the
// process as glibc's fortified snprintf does, SIGABRT after "buffer overflow
// detected"; given room that fits, it does what the plain routine does.
// Each case runs from C++ (here) and from C99 (FortifyC.c), in a child.
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <ostream>
#include <string>

#include "FortifyCases.h"
#include "SafeStdLib.h"

#if !defined(_FORTIFY_SOURCE) || !defined(__OPTIMIZE__)
#  error "FortifyTest.cpp is built with -O2 -D_FORTIFY_SOURCE"
#endif

namespace {

const char kText[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

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

// The C++ twins of FortifyC.c's functions.
bool Sprintf(int n) {
  char buffer[8];
  return zuvo_sprintf(buffer, "%.*s", n, kText) == n && strlen(buffer) == static_cast<size_t>(n);
}
bool Vsprintf(int n) { return HostFormat(n, "%.*s", n, kText); }
bool Snprintf(int n) {
  char buffer[8];
  const size_t size = static_cast<size_t>(n);
  return zuvo_snprintf(buffer, size, "%s", kText) == 64 && strlen(buffer) == size - 1;
}
bool Vsnprintf(int n) { return HostFormatN(static_cast<size_t>(n), "%s", kText); }
bool Strftime(int n) {
  char buffer[8];
  const struct tm brokenDown = Epoch();
  return zuvo_strftime(buffer, static_cast<size_t>(n), "%Y-%m-%d %H:%M:%S", &brokenDown) == 0 &&
         buffer[0] == '\0';
}
bool Strerror(int n) {
  char buffer[8];
  return zuvo_strerror(ENOENT, buffer, n) == buffer && strlen(buffer) == static_cast<size_t>(n - 1);
}
bool Ctime(int n) {
  char buffer[8];
  const time_t when = 0;
  return zuvo_ctime(&when, buffer, n) == buffer && strlen(buffer) == static_cast<size_t>(n - 1);
}
bool Asctime(int n) {
  char buffer[8];
  const struct tm brokenDown = Epoch();
  return zuvo_asctime(&brokenDown, buffer, n) == buffer &&
         strlen(buffer) == static_cast<size_t>(n - 1);
}

struct Routine {
  const char* name;
  bool (*cxx)(int);
  int (*c)(int);
  int fits;  // the size (the unbounded forms: the text's length) that fits 8 bytes
};

// The test's name, for a failure's message.
void PrintTo(const Routine& routine, std::ostream* out) { *out << "zuvo_" << routine.name; }

const Routine kRoutines[] = {
    {"sprintf", Sprintf, FortifyCSprintf, 7},    {"vsprintf", Vsprintf, FortifyCVsprintf, 7},
    {"snprintf", Snprintf, FortifyCSnprintf, 8}, {"vsnprintf", Vsnprintf, FortifyCVsnprintf, 8},
    {"strftime", Strftime, FortifyCStrftime, 8}, {"strerror", Strerror, FortifyCStrerror, 8},
    {"ctime", Ctime, FortifyCCtime, 8},          {"asctime", Asctime, FortifyCAsctime, 8},
};

class Fortify : public testing::TestWithParam<Routine> {
 protected:
  // glibc writes its failure to the terminal when there is one, unless told
  // to use standard error.
  void SetUp() override { setenv("LIBC_FATAL_STDERR_", "1", 1); }
};

// 64 for an 8-byte buffer: the child must die before writing past it.
TEST_P(Fortify, TooMuchRoomAborts) {
  const Routine& routine = GetParam();
  EXPECT_EXIT(routine.cxx(64), testing::KilledBySignal(SIGABRT), "buffer overflow detected")
      << "from C++";
  EXPECT_EXIT(routine.c(64), testing::KilledBySignal(SIGABRT), "buffer overflow detected")
      << "from C";
}

TEST_P(Fortify, RoomThatFitsWorks) {
  const Routine& routine = GetParam();
  EXPECT_TRUE(routine.cxx(routine.fits)) << "from C++";
  EXPECT_TRUE(routine.c(routine.fits)) << "from C";
}

INSTANTIATE_TEST_SUITE_P(Routines, Fortify, testing::ValuesIn(kRoutines),
                         [](const testing::TestParamInfo<Routine>& info) {
                           return std::string(info.param.name);
                         });

// glibc's __sprintf_chk: the text and its terminator must fit, so 8
// characters in 8 bytes is one too many.
TEST(FortifyUnbounded, OneByteTooManyAborts) {
  setenv("LIBC_FATAL_STDERR_", "1", 1);
  EXPECT_EXIT(Sprintf(8), testing::KilledBySignal(SIGABRT), "buffer overflow detected");
  EXPECT_EXIT(FortifyCVsprintf(8), testing::KilledBySignal(SIGABRT), "buffer overflow detected");
}

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
}

// Each argument is evaluated once, on the checked path as on the plain one.
TEST(FortifyMacros, EachArgumentEvaluatedOnce) {
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

// The name in parentheses, and its address, are the plain routine.
TEST(FortifyMacros, ParenthesisedNameIsThePlainRoutine) {
  char buffer[8];
  int (*plain)(char*, size_t, const char*, ...) = &zuvo_snprintf;
  EXPECT_EQ(plain(buffer, sizeof buffer, "%d", 42), 2);
  EXPECT_EQ((zuvo_snprintf)(buffer, sizeof buffer, "%d", 43), 2);
  EXPECT_STREQ(buffer, "43");
}

TEST(FortifyMacros, SizesKnownToFitAndUnknownBuffersWork) {
  char buffer[64];
  EXPECT_TRUE(FortifyPlainCalls(buffer, sizeof buffer));
}

}  // namespace
