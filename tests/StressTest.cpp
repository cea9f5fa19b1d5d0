// stress_test: threads make a mix of calls across every routine of the list,
// some while already holding the standard-library mutex, while another
// thread raises and lowers the output limit. Every result is checked against
// the reentrant C library call on the same input, and the capped output,
// written to a file, is checked against the results of zuvo_maxprintf and
// zuvo_vmaxprintf. A routine that OneCall() does not know yet is called as
// RoutineTables.h calls it, its result unchecked.
//
// usage: stress_test [--threads N] [--calls N]   (calls in all)
// Prints one line of figures; exits 0 when there were no mismatches.
//
// Threads share nothing but the library: each keeps its own tallies, and the
// limit changer is stopped through a pipe, so valgrind's race detectors see
// only the library's own synchronisation.

#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "OS.h"
#include "OSMutex.h"
#include "RoutineTables.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

using routines::Routine;
constexpr UInt32 kNoLimit = 4294967295u;
const char kNotice[] = "\nReached maximum configured output limit = ";

struct Tally {
  long calls = 0;
  long mismatches = 0;
  unsigned long long cappedBytes = 0;
  unsigned long long printfBytes = 0;
};

// A small per-thread generator: xorshift.
struct Random {
  unsigned long long state;
  unsigned long long Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
};

// The v-forms, called through a host's own variadic function.
__attribute__((format(printf, 2, 3))) int Via(int (*vform)(const char*, va_list), const char* fmt,
                                              ...) {
  va_list args;
  va_start(args, fmt);
  const int result = vform(fmt, args);
  va_end(args);
  return result;
}
__attribute__((format(printf, 3, 4))) int Via(int (*vform)(FILE*, const char*, va_list), FILE* file,
                                              const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int result = vform(file, fmt, args);
  va_end(args);
  return result;
}
__attribute__((format(printf, 3, 4))) int Via(int (*vform)(char*, const char*, va_list),
                                              char* buffer, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int result = vform(buffer, fmt, args);
  va_end(args);
  return result;
}
__attribute__((format(printf, 4, 5))) int Via(int (*vform)(char*, size_t, const char*, va_list),
                                              char* str, size_t size, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int result = vform(str, size, fmt, args);
  va_end(args);
  return result;
}

// Makes call number i of thread t, of routine `which`, and checks its result.
bool OneCall(int t, long i, Routine which, Random& random, FILE* sink, Tally& tally) {
  char got[128];
  char want[128];
  struct tm gotTm;
  struct tm wantTm;
  const time_t when = static_cast<time_t>(random.Next() % 4000000000ull);
  switch (which) {
    case Routine::zuvo_maxprintf:
    case Routine::zuvo_vmaxprintf: {
      const int n = which == Routine::zuvo_maxprintf
                        ? zuvo_maxprintf("M%d:%ld:%s\n", t, i, "capped record")
                        : Via(zuvo_vmaxprintf, "M%d:%ld:%s\n", t, i, "capped record");
      const int expected = snprintf(want, sizeof want, "M%d:%ld:%s\n", t, i, "capped record");
      if (n > 0) tally.cappedBytes += static_cast<unsigned long long>(n);
      return n == expected || n == -1;
    }
    case Routine::zuvo_printf:
    case Routine::zuvo_vprintf: {
      const int n = which == Routine::zuvo_printf ? zuvo_printf("P%d:%ld\n", t, i)
                                                  : Via(zuvo_vprintf, "P%d:%ld\n", t, i);
      if (n > 0) tally.printfBytes += static_cast<unsigned long long>(n);
      return n == snprintf(want, sizeof want, "P%d:%ld\n", t, i);
    }
    case Routine::zuvo_fprintf:
    case Routine::zuvo_vfprintf: {
      const double half = 0.5 * static_cast<double>(i);
      const int n = which == Routine::zuvo_fprintf
                        ? zuvo_fprintf(sink, "F%d:%ld:%g\n", t, i, half)
                        : Via(zuvo_vfprintf, sink, "F%d:%ld:%g\n", t, i, half);
      return n == snprintf(want, sizeof want, "F%d:%ld:%g\n", t, i, half);
    }
    case Routine::zuvo_sprintf:
    case Routine::zuvo_vsprintf: {
      const long long w = static_cast<long long>(when);
      const int n = which == Routine::zuvo_sprintf
                        ? zuvo_sprintf(got, "S%d:%ld:%lld", t, i, w)
                        : Via(zuvo_vsprintf, got, "S%d:%ld:%lld", t, i, w);
      return n == snprintf(want, sizeof want, "S%d:%ld:%lld", t, i, w) && strcmp(got, want) == 0;
    }
    case Routine::zuvo_snprintf:
    case Routine::zuvo_vsnprintf: {
      const size_t size = 1 + random.Next() % 24;
      const unsigned w = static_cast<unsigned>(when);
      const int n = which == Routine::zuvo_snprintf
                        ? zuvo_snprintf(got, size, "N%d:%ld:%x", t, i, w)
                        : Via(zuvo_vsnprintf, got, size, "N%d:%ld:%x", t, i, w);
      return n == snprintf(want, size, "N%d:%ld:%x", t, i, w) && strcmp(got, want) == 0;
    }
    case Routine::zuvo_strftime: {
      gmtime_r(&when, &wantTm);
      const size_t n = zuvo_strftime(got, sizeof got, "%Y-%m-%d %H:%M:%S %j %a", &wantTm);
      return n == strftime(want, sizeof want, "%Y-%m-%d %H:%M:%S %j %a", &wantTm) &&
             strcmp(got, want) == 0;
    }
    case Routine::zuvo_strerror: {
      const int errnum = static_cast<int>(random.Next() % 140);
      const int buffLen = 1 + static_cast<int>(random.Next() % 64);
      if (zuvo_strerror(errnum, got, buffLen) != got) return false;
      char text[128];
      snprintf(want, static_cast<size_t>(buffLen), "%s", strerror_r(errnum, text, sizeof text));
      return strcmp(got, want) == 0;
    }
    case Routine::zuvo_ctime:
      return zuvo_ctime(&when, got, sizeof got) == got && strcmp(got, ctime_r(&when, want)) == 0;
    case Routine::zuvo_asctime:
      gmtime_r(&when, &wantTm);
      return zuvo_asctime(&wantTm, got, sizeof got) == got &&
             strcmp(got, asctime_r(&wantTm, want)) == 0;
    case Routine::zuvo_gmtime:
      return zuvo_gmtime(&when, &gotTm) == &gotTm && gmtime_r(&when, &wantTm) != nullptr &&
             SameTime(gotTm, wantTm);
    case Routine::zuvo_localtime:
      return zuvo_localtime(&when, &gotTm) == &gotTm && localtime_r(&when, &wantTm) != nullptr &&
             SameTime(gotTm, wantTm);
    case Routine::zuvo_getmaxprintfcharsinK:
      zuvo_getmaxprintfcharsinK();
      return true;
    case Routine::zuvo_setmaxprintfcharsinK: {
      // Setting the limit it already has, atomically with reading it, so
      // that only the limit changer moves it.
      OSMutexLocker locker(OS::GetStdLibMutex());
      zuvo_setmaxprintfcharsinK(zuvo_getmaxprintfcharsinK());
      return true;
    }
    default:
      // A routine this test does not check yet: it still runs among the
      // others (one that prints to standard output fails CheckOutput()).
      routines::kRoutineCalls[static_cast<int>(which)].wrapped();
      return true;
  }
}

void Work(int t, long calls, Tally* tally) OS_NO_THREAD_SAFETY_ANALYSIS {
  Random random{0x9e3779b97f4a7c15ull * static_cast<unsigned long long>(t + 1)};
  FILE* sink = fopen("/dev/null", "w");
  long i = 0;
  while (i < calls) {
    // Every so often, a burst of calls made while already holding the mutex.
    const bool holding = random.Next() % 16 == 0;
    const long burst = holding ? 5 : 1;
    if (holding) OS::GetStdLibMutex()->Lock();
    for (long b = 0; b < burst && i < calls; ++b, ++i) {
      ++tally->calls;
      const Routine which = static_cast<Routine>(random.Next() % routines::kRoutineCount);
      if (!OneCall(t, i, which, random, sink, *tally)) {
        if (++tally->mismatches <= 3)
          fprintf(stderr, "mismatch: thread %d, call %ld, %s\n", t, i,
                  routines::kRoutineCalls[static_cast<int>(which)].name);
      }
    }
    if (holding) OS::GetStdLibMutex()->Unlock();
  }
  fclose(sink);
}

// Lowers the limit to 0 and raises it out of reach, with values in between,
// until the pipe says stop.
void ChangeLimit(int stopFd, long* changes) {
  static const UInt32 kLimits[] = {0, kNoLimit, 1, kNoLimit, 64, 0, 100000, kNoLimit};
  for (size_t k = 0;; ++k) {
    zuvo_setmaxprintfcharsinK(kLimits[k % (sizeof kLimits / sizeof kLimits[0])]);
    ++*changes;
    struct pollfd stop = {stopFd, POLLIN, 0};
    if (poll(&stop, 1, 1) != 0) return;
  }
}

struct OutputCheck {
  unsigned long long cappedBytes = 0;
  unsigned long long printfBytes = 0;
  long notices = 0;
  long repeatedNotices = 0;  // a notice with no capped record since the last
  long badRecords = 0;
};

// Reads back standard output: capped records, printf records and notices.
OutputCheck CheckOutput(const std::string& text) {
  OutputCheck check;
  bool printedSinceNotice = true;
  size_t at = 0;
  while (at < text.size()) {
    if (text.compare(at, sizeof kNotice - 1, kNotice) == 0) {
      const size_t end = text.find("K\n", at + sizeof kNotice - 1);
      if (end == std::string::npos) {
        ++check.badRecords;
        break;
      }
      ++check.notices;
      if (!printedSinceNotice) ++check.repeatedNotices;
      printedSinceNotice = false;
      at = end + 2;
      continue;
    }
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      ++check.badRecords;
      break;
    }
    const size_t length = end + 1 - at;
    if (text[at] == 'M' && text.compare(end - 13, 13, "capped record") == 0) {
      check.cappedBytes += length;
      printedSinceNotice = true;
    } else if (text[at] == 'P') {
      check.printfBytes += length;
    } else {
      ++check.badRecords;
    }
    at = end + 1;
  }
  return check;
}

std::string ReadFile(FILE* file) {
  std::string text;
  rewind(file);
  char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 8;
  long calls = 200000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--threads") == 0) threads = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--calls") == 0) calls = atol(argv[i + 1]);
  }
  if (threads < 1 || calls < threads) {
    fprintf(stderr, "usage: stress_test [--threads N] [--calls N]\n");
    return 2;
  }
  setenv("TZ", "XST-5:30", 1);
  tzset();
  routines::PrepareRoutineCalls();
  FILE* report = fdopen(dup(STDOUT_FILENO), "w");
  FILE* capture = tmpfile();
  if (report == nullptr || capture == nullptr || dup2(fileno(capture), STDOUT_FILENO) < 0) {
    perror("stress_test: set-up");
    return 2;
  }

  int stop[2];
  if (pipe(stop) != 0) return 2;
  long changes = 0;
  std::thread limiter(ChangeLimit, stop[0], &changes);
  std::vector<Tally> tallies(static_cast<size_t>(threads));
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back(Work, t, calls / threads + (t < calls % threads), &tallies[t]);
  for (std::thread& w : workers) w.join();
  if (write(stop[1], "x", 1) != 1) return 2;
  limiter.join();
  fflush(stdout);

  Tally all;
  for (const Tally& t : tallies) {
    all.calls += t.calls;
    all.mismatches += t.mismatches;
    all.cappedBytes += t.cappedBytes;
    all.printfBytes += t.printfBytes;
  }
  const OutputCheck out = CheckOutput(ReadFile(capture));
  const bool ok = all.mismatches == 0 && out.badRecords == 0 && out.repeatedNotices == 0 &&
                  out.cappedBytes == all.cappedBytes && out.printfBytes == all.printfBytes;
  fprintf(report,
          "stress: threads=%d calls=%ld mismatches=%ld limit-changes=%ld capped-bytes=%llu "
          "(file %llu) printf-bytes=%llu (file %llu) notices=%ld repeated-notices=%ld "
          "bad-records=%ld: %s\n",
          threads, all.calls, all.mismatches, changes, all.cappedBytes, out.cappedBytes,
          all.printfBytes, out.printfBytes, out.notices, out.repeatedNotices, out.badRecords,
          ok ? "ok" : "FAILED");
  fclose(report);
  return ok ? 0 : 1;
}
