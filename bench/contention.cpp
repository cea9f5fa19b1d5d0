// safestdlib-contention [--rounds N] [--millis M] [--log-lines] [--pthread]:
// throughput and fairness of zuvo_snprintf with one and with two threads
// calling it without pause. --log-lines makes each call a log line instead:
// zuvo_localtime, zuvo_strftime and zuvo_maxprintf to standard output, sent
// to /dev/null. --pthread makes the same C library calls under a plain
// pthread mutex instead of through the library, for comparison.
//
// Rounds alternate one thread and two threads, M milliseconds each, so that
// both see the same machine. Prints each round and the medians: the total
// rate with two threads as a share of the one-thread rate (1.0 is the ideal
// for one global lock), and the slower thread's calls as a share of the
// faster one's.

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "RunTogether.h"
#include "SafeStdLib.h"

namespace {

bool sLogLines = false;
bool sPlainMutex = false;
pthread_mutex_t sPlain = PTHREAD_MUTEX_INITIALIZER;

void Call(char (&text)[64], long n, int t) {
  if (!sLogLines) {
    if (!sPlainMutex) {
      zuvo_snprintf(text, sizeof text, "request %ld from %d", n, t);
      return;
    }
    pthread_mutex_lock(&sPlain);
    snprintf(text, sizeof text, "request %ld from %d", n, t);
    pthread_mutex_unlock(&sPlain);
    return;
  }
  const time_t now = static_cast<time_t>(n);
  struct tm brokenDown;
  if (!sPlainMutex) {
    zuvo_localtime(&now, &brokenDown);
    zuvo_strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &brokenDown);
    zuvo_maxprintf("%s worker %d request %ld\n", text, t, n);
    return;
  }
  pthread_mutex_lock(&sPlain);
  brokenDown = *localtime(&now);
  pthread_mutex_unlock(&sPlain);
  pthread_mutex_lock(&sPlain);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &brokenDown);
  pthread_mutex_unlock(&sPlain);
  pthread_mutex_lock(&sPlain);
  printf("%s worker %d request %ld\n", text, t, n);
  pthread_mutex_unlock(&sPlain);
}

// Calls on `threads` threads for `millis` ms; returns each thread's count.
std::vector<long> Round(unsigned threads, int millis) {
  return RunTogether(threads, millis,
                     [](unsigned t, long n) {
                       thread_local char text[64];
                       Call(text, n, static_cast<int>(t));
                     })
      .counts;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  int millis = 300;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--log-lines") == 0) sLogLines = true;
    if (strcmp(argv[i], "--pthread") == 0) sPlainMutex = true;
    if (i + 1 == argc) break;
    if (strcmp(argv[i], "--rounds") == 0) rounds = atoi(argv[++i]);
    if (strcmp(argv[i], "--millis") == 0) millis = atoi(argv[++i]);
  }
  // The log lines' own output goes nowhere; the table goes to the
  // original standard output.
  FILE* const table = fdopen(dup(STDOUT_FILENO), "w");
  if (sLogLines && (table == nullptr || freopen("/dev/null", "w", stdout) == nullptr)) return 1;
  zuvo_setmaxprintfcharsinK(0xFFFFFFFFu);
  if (rounds < 1 || millis < 1) {
    fprintf(stderr,
            "usage: safestdlib-contention [--rounds N] [--millis M] [--log-lines] [--pthread]\n");
    return 2;
  }
  std::vector<double> throughput;
  std::vector<double> fairness;
  FILE* const out = sLogLines ? table : stdout;
  fprintf(out,
          "round  1 thread (calls/s)  2 threads (calls/s)  share of 1 thread  slower/faster\n");
  for (int r = 0; r < rounds; ++r) {
    const double one = static_cast<double>(Round(1, millis)[0]) * 1000.0 / millis;
    const std::vector<long> two = Round(2, millis);
    const double total = static_cast<double>(two[0] + two[1]) * 1000.0 / millis;
    const double share = total / one;
    const double fair = static_cast<double>(std::min(two[0], two[1])) /
                        static_cast<double>(std::max<long>(1, std::max(two[0], two[1])));
    throughput.push_back(share);
    fairness.push_back(fair);
    fprintf(out, "%5d  %18.0f  %19.0f  %17.2f  %13.2f\n", r + 1, one, total, share, fair);
  }
  fprintf(out, "median: 2-thread throughput %.2f of 1 thread, slower thread %.2f of faster\n",
          Median(throughput), Median(fairness));
  return 0;
}
