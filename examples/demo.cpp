// safestdlib-demo: a small multi-threaded host that logs the way a server
// does. Worker threads print timestamped request lines through the capped
// console printer; the summary goes through the uncapped printer, so it
// shows even after the output limit has stopped the request log.
//
// The workers start together and pause between lines, as a server's
// threads wait for their next request, so their lines interleave: the log
// shows many threads printing at once, each line whole.

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "OS.h"
#include "SafeStdLib.h"

namespace {

struct Options {
  unsigned threads = 4;
  unsigned lines = 1000;  // per worker
  bool setLimit = false;
  UInt32 limitInK = 0;
};

struct Totals {
  std::atomic<unsigned long> attempted{0};
  std::atomic<unsigned long> printed{0};
  std::atomic<unsigned long> refused{0};
  std::atomic<unsigned long long> characters{0};
};

void PrintUsage(FILE* to) {
  fprintf(to,
          "usage: safestdlib-demo [--threads N] [--lines N] [--limit-k K] [--help]\n"
          "  --threads N   worker threads, 1 to 256 (default 4)\n"
          "  --lines N     request lines each worker prints, 300 us apart (default 1000)\n"
          "  --limit-k K   output limit of the capped printer, in K of 1024\n"
          "                characters (default: the library's, 100000)\n"
          "  --help        print this and exit\n");
}

// Parses a whole decimal number in [min, max]; false on anything else.
bool ParseNumber(const char* text, unsigned long min, unsigned long max, unsigned long* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long value = strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < min || value > max) return false;
  *out = value;
  return true;
}

// Returns 0 when the options were read, 1 for --help, 2 for a usage error.
int ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; i += 2) {
    const char* flag = argv[i];
    if (strcmp(flag, "--help") == 0) return 1;
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long number = 0;
    if (strcmp(flag, "--threads") == 0 && ParseNumber(value, 1, 256, &number)) {
      options->threads = static_cast<unsigned>(number);
    } else if (strcmp(flag, "--lines") == 0 && ParseNumber(value, 0, 100000000, &number)) {
      options->lines = static_cast<unsigned>(number);
    } else if (strcmp(flag, "--limit-k") == 0 && ParseNumber(value, 0, 4294967295ul, &number)) {
      options->setLimit = true;
      options->limitInK = static_cast<UInt32>(number);
    } else {
      fprintf(stderr, "safestdlib-demo: bad option '%s'%s%s\n", flag, value ? " with value " : "",
              value ? value : "");
      return 2;
    }
  }
  return 0;
}

// One worker: a request line per iteration, every seventh one failed with
// an error text, 300 us between lines. Waits at `start` for the other
// workers: the barrier wakes them all at once when the last arrives, so
// none has printed its share before the others have started. Stores the
// lines it printed in *printed.
void Work(unsigned worker, unsigned lines, pthread_barrier_t* start, Totals* totals,
          unsigned long* printed) {
  static const int kErrors[] = {ECONNREFUSED, ETIMEDOUT, ECONNRESET, EPIPE};
  pthread_barrier_wait(start);
  unsigned long mine = 0;
  for (unsigned i = 0; i < lines; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    const time_t now = time(nullptr);
    struct tm local;
    char stamp[32] = "";
    if (zuvo_localtime(&now, &local) != nullptr)
      zuvo_strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

    int result;
    if (i % 7 == 6) {
      char reason[64];
      zuvo_strerror(kErrors[i % 4], reason, sizeof reason);
      result = zuvo_maxprintf("%s worker %u request %u GET /items/%u 503 (%s)\n", stamp, worker, i,
                              i * 31 % 1000, reason);
    } else {
      result = zuvo_maxprintf("%s worker %u request %u GET /items/%u 200 OK\n", stamp, worker, i,
                              i * 31 % 1000);
    }
    ++totals->attempted;
    if (result >= 0) {
      ++mine;
      ++totals->printed;
      totals->characters += static_cast<unsigned long long>(result);
    } else {
      ++totals->refused;
    }
  }
  *printed = mine;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  switch (ParseOptions(argc, argv, &options)) {
    case 1:
      PrintUsage(stdout);
      return 0;
    case 2:
      PrintUsage(stderr);
      return 2;
  }
  if (options.setLimit) zuvo_setmaxprintfcharsinK(options.limitInK);

  Totals totals;
  pthread_barrier_t start;
  pthread_barrier_init(&start, nullptr, options.threads);
  std::vector<unsigned long> printedBy(options.threads, 0);
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < options.threads; ++t)
    workers.emplace_back(Work, t, options.lines, &start, &totals, &printedBy[t]);
  for (std::thread& worker : workers) worker.join();
  pthread_barrier_destroy(&start);

  zuvo_printf(
      "\nsummary: %u threads, output limit %uK\n"
      "  lines attempted     %lu\n"
      "  lines printed       %lu\n"
      "  lines refused       %lu\n"
      "  characters counted  %llu\n",
      options.threads, zuvo_getmaxprintfcharsinK(), totals.attempted.load(), totals.printed.load(),
      totals.refused.load(), totals.characters.load());
  const OSMutexContention contention = OS::GetStdLibMutexContention();
  zuvo_printf("  lock waits          %llu (%llu asleep), %.3f ms in all, longest %.3f ms\n",
              static_cast<unsigned long long>(contention.fContendedLocks),
              static_cast<unsigned long long>(contention.fKernelWaits),
              static_cast<double>(contention.fWaitNanos) / 1e6,
              static_cast<double>(contention.fLongestWaitNanos) / 1e6);
  for (unsigned t = 0; t < options.threads; ++t)
    zuvo_printf("  worker %u printed %lu\n", t, printedBy[t]);
  return 0;
}
