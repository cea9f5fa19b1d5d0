// safestdlib-log-line: one timestamped log line written five ways, to
// standard output sent to /dev/null, for what a server that logs all day
// pays a line:
//   routines  the README's pattern: one OSMutexLocker on the
//             standard-library mutex around zuvo_localtime, zuvo_strftime
//             and zuvo_printf
//   bare      localtime_r, strftime and printf, no lock of ours: what an
//             engineer writes without the library
//   pthread   the same calls under one plain pthread_mutex_t, whose
//             waiters sleep at once: what an engineer writes with a lock of
//             their own
//   spdlog    spdlog's basic_logger_mt to /dev/null (its file sink and its
//             std::mutex), with a pattern giving the same stamp and text
//   fmt       localtime_r and fmt::print, the stamp formatted by fmt's
//             chrono support
// spdlog and fmt are there where the build found them (`ways` lists them).
// Every way writes the same line, "2026-01-02 03:04:05 worker 0 request 7
// GET /items/217 200 OK", with a single call into the stream, so none tears.
//
// Modes:
//   count WAY N  the process set-up of a server (made multi-threaded first,
//                standard output sent to /dev/null, one warm-up line), then
//                N lines written WAY, each stamped with the same fixed time.
//                Run under callgrind at two N, the difference gives the
//                instructions of one line exactly.
//   cpu [--threads 1,2,4] [--millis M] [--rounds R]
//                for each way and thread count, T threads write lines
//                without pause for M ms (default 200); the CPU time of the
//                whole process (getrusage: user and system time, so
//                waiters that spin, and the kernel's work for waiters that
//                sleep, count too) divided by the lines written. Rounds (default 11) visit every
//                point in turn, so that all see the same machine. Prints two comment lines (the
//                machine, the zone, the load; the build), a header, and one row a point: threads,
//                way, the median CPU ns per line, its smallest and largest, the median lines a
//                second, and the median of the cores the process kept busy
//                (its CPU time over the run's time: near 1 where the threads
//                took turns on one core, near 2 where two ran at once).
//                Every thread writes at least one line.
//   line WAY     the line written WAY to the real standard output, once
//                (spdlog through its stdout sink, with the same pattern).
//   ways         the ways this build has, one a line.
// The caller chooses the zone: TZ in the environment, or none (as systemd
// starts a service). Nothing here sets TZ.

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#ifdef __GLIBC__
#  include <gnu/libc-version.h>
#endif

#include "OS.h"
#include "RunTogether.h"
#include "SafeStdLib.h"

#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
#  include <spdlog/sinks/basic_file_sink.h>
#  include <spdlog/sinks/stdout_sinks.h>
#  include <spdlog/spdlog.h>
#endif
#ifdef SAFESTDLIB_LOG_LINE_FMT
#  include <fmt/chrono.h>
#  include <fmt/core.h>
#endif

namespace {

enum Way { kRoutines, kBare, kPthread, kSpdlog, kFmt };

struct WayName {
  Way fWay;
  const char* fName;
};

// The ways of this build, in the order every table gives them.
const WayName kWays[] = {
    {kRoutines, "routines"}, {kBare, "bare"}, {kPthread, "pthread"},
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
    {kSpdlog, "spdlog"},
#endif
#ifdef SAFESTDLIB_LOG_LINE_FMT
    {kFmt, "fmt"},
#endif
};

// The request a line reports: some number that changes with n.
long Item(long n) { return n * 31 % 1000; }

// The line's format and stamp, aligned: glibc's string functions take a
// number of steps that depends on where the text lies, so the counts would
// otherwise move with the linker's placement of the format and with each
// way's frame.
alignas(64) constexpr char kLineFormat[] = "%s worker %u request %ld GET /items/%ld 200 OK\n";

// The time a line stamps: now, read from the clock; in `count` mode a fixed
// time, each of whose fields has two digits, for glibc's strftime() takes a
// step for each digit it writes, and the counts would otherwise move with
// the time of day.
bool sFixedStamp = false;
constexpr time_t kFixedStamp = 1795353255;  // 2026-11-22 13:14:15 UTC
time_t StampTime() {
  const time_t now = time(nullptr);
  return sFixedStamp ? kFixedStamp : now;
}

// routines: the README's pattern, the stamp and the text one line.
void RoutinesLine(unsigned worker, long n) {
  OSMutexLocker line(OS::GetStdLibMutex());
  alignas(32) char stamp[32];
  struct tm now;
  const time_t t = StampTime();
  zuvo_strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", zuvo_localtime(&t, &now));
  zuvo_printf(kLineFormat, stamp, worker, n, Item(n));
}

// bare: the reentrant conversion and one printf, whose stream lock keeps
// the line whole.
void BareLine(unsigned worker, long n) {
  alignas(32) char stamp[32];
  struct tm now;
  const time_t t = StampTime();
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", localtime_r(&t, &now));
  printf(kLineFormat, stamp, worker, n, Item(n));
}

// pthread: the bare line under a plain mutex.
pthread_mutex_t sPlainMutex = PTHREAD_MUTEX_INITIALIZER;
void PthreadLine(unsigned worker, long n) {
  pthread_mutex_lock(&sPlainMutex);
  BareLine(worker, n);
  pthread_mutex_unlock(&sPlainMutex);
}

#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
std::shared_ptr<spdlog::logger> sLogger;

// Made once, before any line: a file sink to /dev/null with spdlog's
// mutex, or for the `line` mode, a sink to the real standard output, the
// same pattern.
void MakeLogger(bool toStdout) {
  sLogger = toStdout ? spdlog::stdout_logger_mt("log-line")
                     : spdlog::basic_logger_mt("log-line", "/dev/null");
  sLogger->set_pattern("%Y-%m-%d %H:%M:%S %v");
}

void SpdlogLine(unsigned worker, long n) {
  sLogger->info("worker {} request {} GET /items/{} 200 OK", worker, n, Item(n));
}
#endif

#ifdef SAFESTDLIB_LOG_LINE_FMT
// fmt: the line formatted into fmt's buffer and written with one fwrite.
void FmtLine(unsigned worker, long n) {
  struct tm now;
  const time_t t = StampTime();
  localtime_r(&t, &now);
  fmt::print("{:%Y-%m-%d %H:%M:%S} worker {} request {} GET /items/{} 200 OK\n", now, worker, n,
             Item(n));
}
#endif

void Line(Way way, unsigned worker, long n) {
  switch (way) {
    case kRoutines:
      return RoutinesLine(worker, n);
    case kBare:
      return BareLine(worker, n);
    case kPthread:
      return PthreadLine(worker, n);
    case kSpdlog:
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
      return SpdlogLine(worker, n);
#else
      break;
#endif
    case kFmt:
#ifdef SAFESTDLIB_LOG_LINE_FMT
      return FmtLine(worker, n);
#else
      break;
#endif
  }
}

bool WayNamed(const char* name, Way* way) {
  for (const WayName& w : kWays)
    if (strcmp(w.fName, name) == 0) {
      *way = w.fWay;
      return true;
    }
  return false;
}

// What a server has done before it logs: started a thread (so the C
// library takes its locks for real), and its standard output is not a
// terminal. The table goes to `table`, a copy of the real standard output.
// Returns false if /dev/null cannot be opened.
bool SetUp(FILE** table) {
  std::thread([] {}).join();
  if (table) {
    const int fd = dup(fileno(stdout));
    *table = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!*table) return false;
  }
  if (!freopen("/dev/null", "w", stdout)) return false;
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
  MakeLogger(false);
#endif
  return true;
}

std::vector<unsigned> ParseThreads(const char* list) {
  std::vector<unsigned> threads;
  for (const char* p = list; *p;) {
    char* end = nullptr;
    const long t = strtol(p, &end, 10);
    if (end == p || t < 1 || t > 1024 || (*end != ',' && *end != '\0')) return {};
    threads.push_back(static_cast<unsigned>(t));
    p = *end == ',' ? end + 1 : end;
  }
  return threads;
}

// The user and system time of every thread of the process so far.
double ProcessCpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const struct timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Point {
  std::vector<double> cpuNanosPerLine;
  std::vector<double> linesPerSecond;
  std::vector<double> coresBusy;  // CPU time over the time the run took
};

// T threads writing lines `way` for `millis` ms, released together.
void Measure(Way way, unsigned threads, int millis, Point* point) {
  const double cpuBefore = ProcessCpuSeconds();
  const RunResult run =
      RunTogether(threads, millis, [way](unsigned t, long n) { Line(way, t, n); });
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  long lines = 0;
  for (long count : run.counts) lines += count;
  point->cpuNanosPerLine.push_back(cpu * 1e9 / static_cast<double>(lines));
  point->linesPerSecond.push_back(static_cast<double>(lines) / run.seconds);
  point->coresBusy.push_back(cpu / run.seconds);
}

std::string Build() {
#ifdef __clang__
  std::string build = "clang++ " __clang_version__;
#else
  std::string build = "g++ " __VERSION__;
#endif
#ifdef __GLIBC__
  build += std::string(", glibc ") + gnu_get_libc_version();
#endif
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
  build += ", spdlog " + std::to_string(SPDLOG_VER_MAJOR) + "." + std::to_string(SPDLOG_VER_MINOR) +
           "." + std::to_string(SPDLOG_VER_PATCH);
#endif
#ifdef SAFESTDLIB_LOG_LINE_FMT
  build += ", fmt " + std::to_string(FMT_VERSION / 10000) + "." +
           std::to_string(FMT_VERSION / 100 % 100) + "." + std::to_string(FMT_VERSION % 100);
#endif
  return build;
}

int Cpu(int argc, char** argv) {
  std::vector<unsigned> threads = {1, 2, 4};
  int millis = 200;
  int rounds = 11;
  for (int i = 2; i < argc; i += 2) {
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (strcmp(argv[i], "--threads") == 0 && !(threads = ParseThreads(value)).empty()) continue;
    if (strcmp(argv[i], "--millis") == 0 && (millis = atoi(value)) > 0) continue;
    if (strcmp(argv[i], "--rounds") == 0 && (rounds = atoi(value)) > 0) continue;
    fprintf(stderr, "usage: safestdlib-log-line cpu [--threads 1,2,4] [--millis M] [--rounds R]\n");
    return 2;
  }
  FILE* table = nullptr;
  if (!SetUp(&table)) {
    perror("safestdlib-log-line: set-up");
    return 1;
  }
  // Other programs take the machine from the threads too: the table says
  // how busy it was.
  double loadBefore = -1;
  getloadavg(&loadBefore, 1);
  for (const WayName& w : kWays) Line(w.fWay, 0, 0);
  const size_t ways = sizeof kWays / sizeof kWays[0];
  std::vector<Point> points(threads.size() * ways);
  for (int r = 0; r < rounds; ++r)
    for (size_t p = 0; p < points.size(); ++p)
      Measure(kWays[p % ways].fWay, threads[p / ways], millis, &points[p]);
  fflush(stdout);
  double loadAfter = -1;
  getloadavg(&loadAfter, 1);
  const char* zone = getenv("TZ");
  fprintf(table,
          "# %u cores, %s%s, load average %.1f before and %.1f after; each point %d run%s of %d "
          "ms\n"
          "# %s\n"
          "# threads way cpu_ns_per_line min max lines_per_s cores_busy\n",
          std::thread::hardware_concurrency(), zone ? "TZ=" : "TZ unset", zone ? zone : "",
          loadBefore, loadAfter, rounds, rounds == 1 ? "" : "s", millis, Build().c_str());
  for (size_t p = 0; p < points.size(); ++p) {
    std::vector<double> cpu = points[p].cpuNanosPerLine;
    std::sort(cpu.begin(), cpu.end());
    fprintf(table, "%-3u %-9s %.1f %.1f %.1f %.0f %.2f\n", threads[p / ways], kWays[p % ways].fName,
            Median(cpu), cpu.front(), cpu.back(), Median(points[p].linesPerSecond),
            Median(points[p].coresBusy));
  }
  return fclose(table) == 0 ? 0 : 1;
}

int Usage() {
  fprintf(stderr,
          "usage: safestdlib-log-line count WAY N\n"
          "       safestdlib-log-line cpu [--threads 1,2,4] [--millis M] [--rounds R]\n"
          "       safestdlib-log-line line WAY\n"
          "       safestdlib-log-line ways\n"
          "WAY:");
  for (const WayName& w : kWays) fprintf(stderr, " %s", w.fName);
  fprintf(stderr, "\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  Way way = kRoutines;
  if (strcmp(mode, "ways") == 0 && argc == 2) {
    for (const WayName& w : kWays) printf("%s\n", w.fName);
    return 0;
  }
  if (strcmp(mode, "cpu") == 0) return Cpu(argc, argv);
  if (strcmp(mode, "line") == 0 && argc == 3 && WayNamed(argv[2], &way)) {
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
    if (way == kSpdlog) MakeLogger(true);
#endif
    Line(way, 0, 7);
#ifdef SAFESTDLIB_LOG_LINE_SPDLOG
    if (way == kSpdlog) sLogger->flush();
#endif
    return 0;
  }
  if (strcmp(mode, "count") == 0 && argc == 4 && WayNamed(argv[2], &way)) {
    char* end = nullptr;
    const long lines = strtol(argv[3], &end, 10);
    if (*end != '\0' || lines < 0) return Usage();
    if (!SetUp(nullptr)) {
      perror("safestdlib-log-line: set-up");
      return 1;
    }
    sFixedStamp = true;
    Line(way, 0, 0);
    for (long n = 1; n <= lines; ++n) Line(way, 0, n);
    return 0;
  }
  return Usage();
}
