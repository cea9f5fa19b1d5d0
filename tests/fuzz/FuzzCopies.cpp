// libFuzzer target for the text copies, the structure copies and
// zuvo_strftime: random times, random broken-down times, buffLen from -2 to
// 80 and formats from a fixed list. A copy must never write outside the
// buffer, and what it leaves must be terminated within it.

#include <fuzzer/FuzzedDataProvider.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "SafeStdLib.h"

namespace {

const char* const kFormats[] = {
    "",
    "%c",
    "%Y-%m-%d %H:%M:%S",
    "%a %b %e %T %Z %Y",
    "%s",
    "%j %U %W %V %G",
    "%p",
    "%x %X %D",
    "%%",
    "%Ey %EC %Ox",
    "%z %Z",
    "%n%t%R",
    "%A",
    "%B %h %+%",
    "%I:%M:%S %p",
    "%F %T%z",
    "%C%y %g %u %w",
};

// Fills a broken-down time with fields that may be far out of range.
struct tm RandomTime(FuzzedDataProvider& data) {
  struct tm t;
  memset(&t, 0, sizeof t);
  t.tm_sec = data.ConsumeIntegral<int>();
  t.tm_min = data.ConsumeIntegral<int>();
  t.tm_hour = data.ConsumeIntegral<int>();
  t.tm_mday = data.ConsumeIntegral<int>();
  t.tm_mon = data.ConsumeIntegral<int>();
  t.tm_year = data.ConsumeIntegral<int>();
  t.tm_wday = data.ConsumeIntegral<int>();
  t.tm_yday = data.ConsumeIntegral<int>();
  t.tm_isdst = data.ConsumeIntegralInRange<int>(-1, 1);
  t.tm_gmtoff = data.ConsumeIntegral<long>();
  t.tm_zone = data.ConsumeBool() ? "UTC" : nullptr;
  return t;
}

// Checks one text copy into exactly buffLen bytes (the sanitizer catches a
// write past them): NULL and nothing written for an unusable length,
// otherwise a terminator within the buffer.
void CheckTextCopy(int which, int buffLen, const time_t& when, const struct tm& broken,
                   int errnum) {
  std::vector<char> buffer(buffLen > 0 ? static_cast<size_t>(buffLen) : 1, '\x7f');
  char* result = nullptr;
  switch (which) {
    case 0:
      result = zuvo_strerror(errnum, buffer.data(), buffLen);
      break;
    case 1:
      result = zuvo_ctime(&when, buffer.data(), buffLen);
      break;
    default:
      result = zuvo_asctime(&broken, buffer.data(), buffLen);
      break;
  }
  if (buffLen < 1) {
    if (result != nullptr || buffer[0] != '\x7f') abort();
    return;
  }
  if (result != nullptr && result != buffer.data()) abort();
  if (memchr(buffer.data(), '\0', buffer.size()) == nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "XST-5:30XDT,M3.2.0,M11.1.0", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const time_t when = data.ConsumeIntegral<time_t>();
  const struct tm broken = RandomTime(data);
  const int buffLen = data.ConsumeIntegralInRange<int>(-2, 80);
  const int errnum = data.ConsumeIntegral<int>();

  CheckTextCopy(data.ConsumeIntegralInRange<int>(0, 2), buffLen, when, broken, errnum);

  struct tm result;
  memset(&result, 0x5a, sizeof result);
  struct tm* got =
      data.ConsumeBool() ? zuvo_gmtime(&when, &result) : zuvo_localtime(&when, &result);
  if (got != nullptr && got != &result) abort();

  const char* format = kFormats[data.ConsumeIntegralInRange<size_t>(0, std::size(kFormats) - 1)];
  const size_t maxsize = data.ConsumeIntegralInRange<size_t>(0, 80);
  std::vector<char> text(maxsize > 0 ? maxsize : 1, '\x7f');
  const size_t n = zuvo_strftime(text.data(), maxsize, format, &broken);
  if (maxsize > 0) {
    if (n >= maxsize || text[n] != '\0') abort();
  } else if (n != 0 || text[0] != '\x7f') {
    abort();
  }
  return 0;
}
