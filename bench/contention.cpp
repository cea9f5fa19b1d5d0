// safestdlib-contention [--rounds N] [--millis M]: throughput and fairness
// of zuvo_snprintf with one and with two threads calling it without pause.
//
// Rounds alternate one thread and two threads, M milliseconds each, so that
// both see the same machine. Prints each round and the medians: the total
// rate with two threads as a share of the one-thread rate (1.0 is the ideal
// for one global lock), and the slower thread's calls as a share of the
// faster one's.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "SafeStdLib.h"

namespace {

// Calls zuvo_snprintf on `threads` threads for `millis` ms; returns each
// thread's count.
std::vector<long> Round(int threads, int millis) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<bool> stop{false};
  std::vector<long> counts(static_cast<size_t>(threads), 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      char text[64];
      long n = 0;
      ++ready;
      while (!go.load(std::memory_order_acquire)) {
      }
      while (!stop.load(std::memory_order_relaxed)) {
        zuvo_snprintf(text, sizeof text, "request %ld from %d", n, t);
        ++n;
      }
      counts[static_cast<size_t>(t)] = n;
    });
  }
  while (ready.load() != threads) std::this_thread::yield();
  go.store(true, std::memory_order_release);
  std::this_thread::sleep_for(std::chrono::milliseconds(millis));
  stop = true;
  for (std::thread& w : workers) w.join();
  return counts;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  int millis = 300;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--rounds") == 0) rounds = atoi(argv[i + 1]);
    if (strcmp(argv[i], "--millis") == 0) millis = atoi(argv[i + 1]);
  }
  if (rounds < 1 || millis < 1) {
    fprintf(stderr, "usage: safestdlib-contention [--rounds N] [--millis M]\n");
    return 2;
  }
  std::vector<double> throughput;
  std::vector<double> fairness;
  printf("round  1 thread (calls/s)  2 threads (calls/s)  share of 1 thread  slower/faster\n");
  for (int r = 0; r < rounds; ++r) {
    const double one = static_cast<double>(Round(1, millis)[0]) * 1000.0 / millis;
    const std::vector<long> two = Round(2, millis);
    const double total = static_cast<double>(two[0] + two[1]) * 1000.0 / millis;
    const double share = total / one;
    const double fair = static_cast<double>(std::min(two[0], two[1])) /
                        static_cast<double>(std::max<long>(1, std::max(two[0], two[1])));
    throughput.push_back(share);
    fairness.push_back(fair);
    printf("%5d  %18.0f  %19.0f  %17.2f  %13.2f\n", r + 1, one, total, share, fair);
  }
  printf("median: 2-thread throughput %.2f of 1 thread, slower thread %.2f of faster\n",
         Median(throughput), Median(fairness));
  return 0;
}
