// RunTogether.h: the benchmarks' race of threads that start together, and
// the median of its rounds.
#ifndef SafeStdLib_RunTogether_H
#define SafeStdLib_RunTogether_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

struct RunResult {
  std::vector<long> counts;  // each thread's calls
  double seconds;            // from the release of all threads to the last join
};

// Starts `threads` threads, releases them together once all are running,
// and has thread t call body(t, n) for n = 0, 1, ... until `millis` ms have
// passed; each finishes the call it is in.
template <typename Body>
RunResult RunTogether(unsigned threads, int millis, Body body) {
  std::atomic<unsigned> ready{0};
  std::atomic<bool> go{false};
  std::atomic<bool> stop{false};
  RunResult result{std::vector<long>(threads, 0), 0.0};
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      long n = 0;
      ++ready;
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      do {
        body(t, n++);
      } while (!stop.load(std::memory_order_relaxed));
      result.counts[t] = n;
    });
  }
  while (ready.load() != threads) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  go.store(true, std::memory_order_release);
  std::this_thread::sleep_for(std::chrono::milliseconds(millis));
  stop = true;
  for (std::thread& w : workers) w.join();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  result.seconds = elapsed.count();
  return result;
}

// The median of values (not empty).
inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

#endif  // SafeStdLib_RunTogether_H
