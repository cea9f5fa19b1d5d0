// Tests of zuvo_strftime and of the text and structure copies.

#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

constexpr char kUntouched = 0x7f;
char* const kNoBuffer = nullptr;
struct tm* const kNoResult = nullptr;

// Every process-wide zone here is a POSIX string, so no zone file is read.
class TimeText : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(setenv("TZ", "UTC0", 1), 0);
    tzset();
  }
};

struct tm BrokenDown(time_t when) {
  struct tm result;
  gmtime_r(&when, &result);
  return result;
}

// Checks one text copy into a buffer of buffLen bytes with guard bytes
// after it: the text's first buffLen - 1 characters, then zero bytes up to
// buffLen, and nothing written past it.
void ExpectCopied(const std::string& text, int buffLen, char* (*copy)(char* buffer, int buffLen)) {
  SCOPED_TRACE("buffLen " + std::to_string(buffLen));
  std::vector<char> buffer(static_cast<size_t>(buffLen) + 8, kUntouched);
  ASSERT_EQ(copy(buffer.data(), buffLen), buffer.data());
  const size_t kept = std::min(text.size(), static_cast<size_t>(buffLen) - 1);
  EXPECT_EQ(std::string(buffer.data()), text.substr(0, kept));
  for (size_t i = kept; i < static_cast<size_t>(buffLen); ++i) ASSERT_EQ(buffer[i], '\0') << i;
  for (size_t i = static_cast<size_t>(buffLen); i < buffer.size(); ++i)
    ASSERT_EQ(buffer[i], kUntouched);
}

TEST_F(TimeText, TextCopiesCutAndZeroFillAtEveryLength) {
  const time_t when = 1234567890;
  char expected[64];
  const std::string ctimeText = ctime_r(&when, expected);
  const struct tm tm = BrokenDown(when);
  const std::string asctimeText = asctime_r(&tm, expected);
  const std::string strerrorText = strerror_r(ENOENT, expected, sizeof expected);
  for (int buffLen = 1; buffLen <= 40; ++buffLen) {
    ExpectCopied(ctimeText, buffLen, [](char* b, int n) {
      const time_t t = 1234567890;
      return zuvo_ctime(&t, b, n);
    });
    ExpectCopied(asctimeText, buffLen, [](char* b, int n) {
      const struct tm t = BrokenDown(1234567890);
      return zuvo_asctime(&t, b, n);
    });
    ExpectCopied(strerrorText, buffLen, [](char* b, int n) { return zuvo_strerror(ENOENT, b, n); });
  }
}

TEST_F(TimeText, CtimeOfTheEpochFitsTwentySixBytes) {
  const time_t epoch = 0;
  char buffer[26];
  ASSERT_EQ(zuvo_ctime(&epoch, buffer, sizeof buffer), buffer);
  EXPECT_STREQ(buffer, "Thu Jan  1 00:00:00 1970\n");
}

// The C library cannot convert these; the copies report it with NULL.
TEST_F(TimeText, UnconvertibleYearGivesNullAndLeavesNoGarbage) {
  char buffer[32];
  struct tm farFuture = BrokenDown(0);
  farFuture.tm_year = INT_MAX;
  memset(buffer, kUntouched, sizeof buffer);
  EXPECT_EQ(zuvo_asctime(&farFuture, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");
}

TEST_F(TimeText, UnconvertibleTimeGivesNullAndLeavesNoGarbage) {
  if (sizeof(time_t) < 8) GTEST_SKIP() << "every 32-bit time_t converts";
  char buffer[32];
  const time_t huge = std::numeric_limits<time_t>::max();
  memset(buffer, kUntouched, sizeof buffer);
  EXPECT_EQ(zuvo_ctime(&huge, buffer, sizeof buffer), nullptr);
  EXPECT_STREQ(buffer, "");

  struct tm result = BrokenDown(86400);
  const struct tm before = result;
  EXPECT_EQ(zuvo_gmtime(&huge, &result), nullptr);
  EXPECT_EQ(zuvo_localtime(&huge, &result), nullptr);
  EXPECT_TRUE(SameTime(result, before)) << "result left untouched";
}

TEST_F(TimeText, UnusableStorageIsNeverWrittenNorLocked) {
  const time_t when = 0;
  const struct tm tm = BrokenDown(0);
  char buffer[8];
  memset(buffer, kUntouched, sizeof buffer);
  ForeignHolder holder;  // a call that took the mutex would wait here
  Probe probe([&] {
    for (int buffLen : {0, -1, INT_MIN}) {
      EXPECT_EQ(zuvo_strerror(EINVAL, buffer, buffLen), nullptr);
      EXPECT_EQ(zuvo_ctime(&when, buffer, buffLen), nullptr);
      EXPECT_EQ(zuvo_asctime(&tm, buffer, buffLen), nullptr);
    }
    EXPECT_EQ(zuvo_strerror(EINVAL, kNoBuffer, 8), nullptr);
    EXPECT_EQ(zuvo_ctime(&when, kNoBuffer, 8), nullptr);
    EXPECT_EQ(zuvo_asctime(&tm, kNoBuffer, 8), nullptr);
    EXPECT_EQ(zuvo_gmtime(&when, kNoResult), nullptr);
    EXPECT_EQ(zuvo_localtime(&when, kNoResult), nullptr);
    EXPECT_EQ(zuvo_strftime(kNoBuffer, 100, "%Y", &tm), 0u);
    EXPECT_EQ(zuvo_strftime(kNoBuffer, 0, "%Y", &tm), 0u);
  });
  EXPECT_TRUE(probe.FinishedWithin(10000));
  holder.Release();
  for (char c : buffer) EXPECT_EQ(c, kUntouched);
}

TEST_F(TimeText, OneByteBufferHoldsAnEmptyString) {
  char buffer[2] = {kUntouched, kUntouched};
  EXPECT_EQ(zuvo_strerror(EINVAL, buffer, 1), buffer);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], kUntouched);
}

TEST_F(TimeText, StrftimeFormatsAndEmptiesATextThatDidNotFit) {
  const struct tm tm = BrokenDown(1234567890);
  char buffer[32];
  EXPECT_EQ(zuvo_strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M", &tm), 16u);
  EXPECT_STREQ(buffer, "2009-02-13 23:31");

  memset(buffer, kUntouched, sizeof buffer);
  EXPECT_EQ(zuvo_strftime(buffer, 5, "%Y-%m-%d", &tm), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[5], kUntouched);

  memset(buffer, kUntouched, sizeof buffer);
  EXPECT_EQ(zuvo_strftime(buffer, 0, "%Y", &tm), 0u);
  EXPECT_EQ(buffer[0], kUntouched) << "maxsize 0 leaves room for nothing";
}

TEST_F(TimeText, StructureCopiesReturnTheCallersResult) {
  const time_t when = 1234567890;
  struct tm result;
  EXPECT_EQ(zuvo_gmtime(&when, &result), &result);
  EXPECT_TRUE(SameTime(result, BrokenDown(when)));
  EXPECT_EQ(zuvo_localtime(&when, &result), &result);
  EXPECT_EQ(result.tm_hour, 23);
}

TEST_F(TimeText, LocaltimeCopiesZoneOffsetAndName) {
  ASSERT_EQ(setenv("TZ", "IST-5:30", 1), 0);
  tzset();
  const time_t epoch = 0;
  struct tm result;
  memset(&result, 0, sizeof result);
  ASSERT_EQ(zuvo_localtime(&epoch, &result), &result);
  EXPECT_EQ(result.tm_gmtoff, 5 * 3600 + 30 * 60);
  ASSERT_NE(result.tm_zone, nullptr);
  EXPECT_STREQ(result.tm_zone, "IST");
  EXPECT_EQ(result.tm_hour, 5);
  EXPECT_EQ(result.tm_min, 30);
}

// Each thread converts its own times and checks every copy against the
// reentrant conversion, while the others overwrite the C library's storage.
TEST_F(TimeText, CopiesKeepTheirValuesWhileOtherThreadsConvert) {
  constexpr int kThreads = 4;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &mismatches] {
      const time_t mine = 1000000000 + t * 86400 * 40 + t * 3671;
      struct tm keep;
      struct tm expected;
      gmtime_r(&mine, &expected);
      zuvo_gmtime(&mine, &keep);
      for (int i = 0; i < 3000; ++i) {
        const time_t when = mine + i * 7919;
        struct tm got;
        struct tm want;
        zuvo_gmtime(&when, &got);
        gmtime_r(&when, &want);
        if (!SameTime(got, want)) ++mismatches;
        zuvo_localtime(&when, &got);
        localtime_r(&when, &want);
        if (!SameTime(got, want)) ++mismatches;
        char text[32];
        char wanted[32];
        zuvo_ctime(&when, text, sizeof text);
        if (strcmp(text, ctime_r(&when, wanted)) != 0) ++mismatches;
      }
      if (!SameTime(keep, expected)) ++mismatches;
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
