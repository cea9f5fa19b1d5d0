// safestdlib-bench: every routine against the bare C library call it wraps,
// on the same inputs, and the standard-library mutex against other locks,
// with one and two threads.

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <mutex>
#include <string>

#include "OS.h"
#include "RoutineCalls.h"

namespace {

void RunCall(benchmark::State& state, void (*call)()) {
  for (auto _ : state) call();
  state.SetItemsProcessed(state.iterations());
}

void RegisterRoutineCalls() {
  for (const bench::RoutineCall& call : bench::kRoutineCalls) {
    benchmark::RegisterBenchmark((std::string("Bare/") + call.name).c_str(), RunCall, call.bare);
    benchmark::RegisterBenchmark((std::string("Wrapped/") + call.name).c_str(), RunCall,
                                 call.wrapped);
  }
  for (const bench::RoutineCall& call : bench::kReentrantCalls)
    benchmark::RegisterBenchmark((std::string("Reentrant/") + call.name).c_str(), RunCall,
                                 call.bare);
}

// ---- Locks: one lock and unlock per iteration, on one shared lock.

template <typename Lock, typename Unlock>
void RunLock(benchmark::State& state, Lock lock, Unlock unlock) {
  for (auto _ : state) {
    lock();
    unlock();
  }
  state.SetItemsProcessed(state.iterations());
}

OSMutex gOSMutex;
pthread_mutex_t gPthread = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t gPthreadRecursive = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
std::mutex gStd;
std::recursive_mutex gStdRecursive;

void BM_OSMutex(benchmark::State& state) OS_NO_THREAD_SAFETY_ANALYSIS {
  RunLock(
      state, []() OS_NO_THREAD_SAFETY_ANALYSIS { gOSMutex.Lock(); },
      []() OS_NO_THREAD_SAFETY_ANALYSIS { gOSMutex.Unlock(); });
}
void BM_OSMutexReentry(benchmark::State& state) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex outerHeld;
  outerHeld.Lock();
  RunLock(
      state, [&]() OS_NO_THREAD_SAFETY_ANALYSIS { outerHeld.Lock(); },
      [&]() OS_NO_THREAD_SAFETY_ANALYSIS { outerHeld.Unlock(); });
  outerHeld.Unlock();
}
void BM_PthreadMutex(benchmark::State& state) {
  RunLock(
      state, [] { pthread_mutex_lock(&gPthread); }, [] { pthread_mutex_unlock(&gPthread); });
}
void BM_PthreadRecursiveMutex(benchmark::State& state) {
  RunLock(
      state, [] { pthread_mutex_lock(&gPthreadRecursive); },
      [] { pthread_mutex_unlock(&gPthreadRecursive); });
}
void BM_StdMutex(benchmark::State& state) {
  RunLock(
      state, [] { gStd.lock(); }, [] { gStd.unlock(); });
}
void BM_StdRecursiveMutex(benchmark::State& state) {
  RunLock(
      state, [] { gStdRecursive.lock(); }, [] { gStdRecursive.unlock(); });
}

BENCHMARK(BM_OSMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_OSMutexReentry)->Threads(1);
BENCHMARK(BM_PthreadMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_PthreadRecursiveMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_StdMutex)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_StdRecursiveMutex)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The printing routines print to standard output, which now goes to
  // /dev/null; the table goes where standard output went. Use
  // --benchmark_out=FILE for JSON.
  std::ofstream table("/proc/self/fd/" + std::to_string(dup(STDOUT_FILENO)));
  bench::SetUpRoutineCalls();
  RegisterRoutineCalls();
  benchmark::ConsoleReporter console(benchmark::ConsoleReporter::OO_Tabular);
  console.SetOutputStream(&table);
  console.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  return 0;
}
