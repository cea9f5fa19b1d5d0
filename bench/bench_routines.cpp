// safestdlib-bench: every routine against the bare C library call it wraps,
// on the same inputs, and the standard-library mutex against other locks,
// with one and two threads.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include "OS.h"
#include "RoutineTables.h"

namespace {

void RunCall(benchmark::State& state, void (*call)()) {
  for (auto _ : state) call();
  state.SetItemsProcessed(state.iterations());
}

// Registers BARE/NAME and, where there is one, Wrapped/NAME for a call.
void Register(const routines::RoutineCall& call, const char* bare, int maxThreads) {
  for (const auto& [prefix, fn] : {std::pair{bare, call.bare}, {"Wrapped/", call.wrapped}}) {
    if (fn == nullptr) continue;
    auto* b = benchmark::RegisterBenchmark((std::string(prefix) + call.name).c_str(), RunCall, fn);
    if (maxThreads > 1) b->ThreadRange(1, maxThreads)->UseRealTime();
  }
}

// The routines against their bare calls; the reentrant forms; and
// one lock-and-unlock per iteration of one shared lock (the standard-library
// mutex as Wrapped/lock, the others bare), with one and two threads.
void RegisterAll() {
  for (const routines::RoutineCall& call : routines::kRoutineCalls) Register(call, "Bare/", 1);
  for (const routines::RoutineCall& call : routines::kReentrantCalls)
    Register(call, "Reentrant/", 1);
  for (const routines::RoutineCall& call : routines::kLockCalls) Register(call, "Bare/", 2);
}

// Re-entry: one more level of a mutex the thread already holds.
void BM_OSMutexReentry(benchmark::State& state) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex outerHeld;
  outerHeld.Lock();
  for (auto _ : state) {
    outerHeld.Lock();
    outerHeld.Unlock();
  }
  state.SetItemsProcessed(state.iterations());
  outerHeld.Unlock();
}
BENCHMARK(BM_OSMutexReentry);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The printing routines print to standard output, which now goes to
  // /dev/null; the table goes where standard output went. Use
  // --benchmark_out=FILE for JSON.
  std::ofstream table("/proc/self/fd/" + std::to_string(dup(STDOUT_FILENO)));
  routines::SetUpRoutineCalls();
  RegisterAll();
  benchmark::ConsoleReporter console(benchmark::ConsoleReporter::OO_Tabular);
  console.SetOutputStream(&table);
  console.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&console);
  benchmark::Shutdown();
  return 0;
}
