// safestdlib-scaling [--millis M] [--rounds N]: log lines a second with 1,
// 2, 4, 8, 16 and 32 threads writing them without pause, under three locks:
//   routines       zuvo_localtime, zuvo_strftime and zuvo_snprintf, each
//                  holding the standard-library mutex for its call
//   pthread_mutex  the same C library calls, each under a plain
//                  pthread_mutex_t
//   std::mutex     the same calls, each under a std::mutex
// A log line is the local time, its text and a request line formatted into
// a buffer: no output, so the figures are the locks' and the C library's.
//
// Each point runs M milliseconds (default 300); rounds (default 3) visit
// every point in turn, so that all see the same machine, and the table
// gives each point's median. Prints a comment line naming the machine's
// cores and its load average, then one row a point: threads, lock, lines a
// second. Every thread writes at least one line, so every figure is above
// zero.

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "RunTogether.h"
#include "SafeStdLib.h"

namespace {

const unsigned kThreads[] = {1, 2, 4, 8, 16, 32};
const char* const kLocks[] = {"routines", "pthread_mutex", "std::mutex"};
constexpr int kLockCount = 3;

struct PthreadMutex {
  pthread_mutex_t fMutex = PTHREAD_MUTEX_INITIALIZER;
  void lock() { pthread_mutex_lock(&fMutex); }
  void unlock() { pthread_mutex_unlock(&fMutex); }
};
PthreadMutex sPthreadMutex;
std::mutex sStdMutex;

const char kStampFormat[] = "%Y-%m-%d %H:%M:%S";
const char kLineFormat[] = "%s worker %u request %ld GET /items/%ld 200 OK\n";

// The routines' three calls, each under its own hold of `lock`, as each
// routine holds the standard-library mutex for its own.
template <typename Lock>
void LineUnder(Lock& lock, unsigned worker, long n, char (&line)[96]) {
  const time_t now = time(nullptr);
  struct tm local = {};
  char stamp[32];
  {
    std::lock_guard<Lock> hold(lock);
    if (const struct tm* t = localtime(&now)) local = *t;
  }
  {
    std::lock_guard<Lock> hold(lock);
    strftime(stamp, sizeof stamp, kStampFormat, &local);
  }
  std::lock_guard<Lock> hold(lock);
  snprintf(line, sizeof line, kLineFormat, stamp, worker, n, n * 31 % 1000);
}

// One log line under kLocks[lock].
void Line(int lock, unsigned worker, long n, char (&line)[96]) {
  if (lock == 1) return LineUnder(sPthreadMutex, worker, n, line);
  if (lock == 2) return LineUnder(sStdMutex, worker, n, line);
  const time_t now = time(nullptr);
  struct tm local = {};
  char stamp[32];
  zuvo_localtime(&now, &local);
  zuvo_strftime(stamp, sizeof stamp, kStampFormat, &local);
  zuvo_snprintf(line, sizeof line, kLineFormat, stamp, worker, n, n * 31 % 1000);
}

// Lines a second from `threads` threads writing log lines under `lock`
// for `millis` ms, counted from the moment all are released together.
double Rate(unsigned threads, int lock, int millis) {
  const RunResult run = RunTogether(threads, millis, [lock](unsigned t, long n) {
    thread_local char line[96];
    Line(lock, t, n, line);
  });
  long lines = 0;
  for (long count : run.counts) lines += count;
  return static_cast<double>(lines) / run.seconds;
}

}  // namespace

int main(int argc, char** argv) {
  int millis = 300;
  int rounds = 3;
  for (int i = 1; i < argc; i += 2) {
    const int value = i + 1 < argc ? atoi(argv[i + 1]) : 0;
    if (strcmp(argv[i], "--millis") == 0 && value > 0) {
      millis = value;
    } else if (strcmp(argv[i], "--rounds") == 0 && value > 0) {
      rounds = value;
    } else {
      fprintf(stderr, "usage: safestdlib-scaling [--millis M] [--rounds N]\n");
      return 2;
    }
  }
  // Other programs' load takes the machine from the threads: the table says
  // how busy it was.
  double load = -1;
  getloadavg(&load, 1);
  constexpr int kPoints = static_cast<int>(std::size(kThreads)) * kLockCount;
  std::vector<std::vector<double>> rates(kPoints);
  for (int r = 0; r < rounds; ++r) {
    for (int p = 0; p < kPoints; ++p)
      rates[static_cast<size_t>(p)].push_back(
          Rate(kThreads[p / kLockCount], p % kLockCount, millis));
  }
  printf(
      "# %u cores, load average %.1f before; each point the median of %d runs of %d ms\n"
      "# threads lock lines/s\n",
      std::thread::hardware_concurrency(), load, rounds, millis);
  for (int p = 0; p < kPoints; ++p)
    printf("%-3u %-13s %.0f\n", kThreads[p / kLockCount], kLocks[p % kLockCount],
           Median(rates[static_cast<size_t>(p)]));
  return 0;
}
