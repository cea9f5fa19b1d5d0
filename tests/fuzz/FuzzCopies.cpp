// libFuzzer target for the list's text copies, structure copies and time
// formats (RoutineList.h: TEXT_COPY, STRUCT_COPY, TIME_FORMAT): random
// times, random broken-down times, random numbers, buffLen from -2 to 80 and
// formats from a fixed list. A copy must never write outside the buffer,
// and what it leaves must be terminated within it. A routine added to the
// list with one of these kinds is fuzzed with the others; one whose input
// this target cannot make does not compile here.

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

// What a routine may take as its input, one of each.
struct Inputs {
  time_t when;
  struct tm broken;
  int number;  // an error or signal number
};

template <typename T>
struct Tag {};
int InputOf(const Inputs& in, Tag<int>) { return in.number; }
const time_t* InputOf(const Inputs& in, Tag<const time_t*>) { return &in.when; }
const struct tm* InputOf(const Inputs& in, Tag<const struct tm*>) { return &in.broken; }

using TextCopy = char* (*)(const Inputs&, char*, int);
using StructCopy = struct tm* (*)(const time_t*, struct tm*);
using TimeFormat = size_t (*)(char*, size_t, const char*, const struct tm*);

std::vector<TextCopy> gTextCopies;
std::vector<StructCopy> gStructCopies;
std::vector<TimeFormat> gTimeFormats;

// The list's kinds, by the names its rows give them.
enum class Kind { PRINTER, BUFFER_PRINTER, TIME_FORMAT, TEXT_COPY, STRUCT_COPY, LIMIT };

template <Kind kind, auto routine>
void Register() {
  if constexpr (kind == Kind::TEXT_COPY) {
    gTextCopies.push_back([](const Inputs& in, char* buffer, int buffLen) {
      return [&]<typename In>(char* (*copy)(In, char*, int)) {
        return copy(InputOf(in, Tag<In>{}), buffer, buffLen);
      }(routine);
    });
  } else if constexpr (kind == Kind::STRUCT_COPY) {
    gStructCopies.push_back(routine);
  } else if constexpr (kind == Kind::TIME_FORMAT) {
    gTimeFormats.push_back(routine);
  }
}

template <typename T>
const T& Pick(FuzzedDataProvider& data, const std::vector<T>& from) {
  return from[data.ConsumeIntegralInRange<size_t>(0, from.size() - 1)];
}

// Checks one text copy into exactly buffLen bytes (the sanitizer catches a
// write past them): NULL and nothing written for an unusable length,
// otherwise a terminator within the buffer.
void CheckTextCopy(TextCopy copy, int buffLen, const Inputs& in) {
  std::vector<char> buffer(buffLen > 0 ? static_cast<size_t>(buffLen) : 1, '\x7f');
  char* result = copy(in, buffer.data(), buffLen);
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
#define SAFESTDLIB_ROUTINE(name, linkage, kind, checked, ...) Register<Kind::kind, &name>();
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
  if (gTextCopies.empty() || gStructCopies.empty() || gTimeFormats.empty()) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  Inputs in;
  in.when = data.ConsumeIntegral<time_t>();
  in.broken = RandomTime(data);
  const int buffLen = data.ConsumeIntegralInRange<int>(-2, 80);
  in.number = data.ConsumeIntegral<int>();

  CheckTextCopy(Pick(data, gTextCopies), buffLen, in);

  struct tm result;
  memset(&result, 0x5a, sizeof result);
  struct tm* got = Pick(data, gStructCopies)(&in.when, &result);
  if (got != nullptr && got != &result) abort();

  const char* format = kFormats[data.ConsumeIntegralInRange<size_t>(0, std::size(kFormats) - 1)];
  const size_t maxsize = data.ConsumeIntegralInRange<size_t>(0, 80);
  std::vector<char> text(maxsize > 0 ? maxsize : 1, '\x7f');
  const size_t n = Pick(data, gTimeFormats)(text.data(), maxsize, format, &in.broken);
  if (maxsize > 0) {
    if (n >= maxsize || text[n] != '\0') abort();
  } else if (n != 0 || text[0] != '\x7f') {
    abort();
  }
  return 0;
}
