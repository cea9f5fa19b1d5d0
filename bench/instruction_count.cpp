// safestdlib-instructions NAME VARIANT N: makes N calls of one routine
// (VARIANT wrapped) or of its bare C library call (VARIANT bare). Run under
// callgrind at two values of N: the difference in instructions, divided by
// the difference in N, is the exact cost of one call.

#include <stdlib.h>
#include <string.h>

#include <span>

#include "RoutineCalls.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: safestdlib-instructions NAME wrapped|bare N\n");
    return 2;
  }
  const bool wrapped = strcmp(argv[2], "wrapped") == 0;
  const long n = strtol(argv[3], nullptr, 10);
  bench::SetUpRoutineCalls();
  auto run = [&](const bench::RoutineCall& call) {
    void (*fn)() = wrapped ? call.wrapped : call.bare;
    if (fn == nullptr) return false;
    // One warm-up call, so that first-call set-up is the same at every N.
    fn();
    for (long i = 0; i < n; ++i) fn();
    return true;
  };
  using Calls = std::span<const bench::RoutineCall>;
  for (Calls calls :
       {Calls(bench::kRoutineCalls), Calls(bench::kReentrantCalls), Calls(bench::kLockCalls)}) {
    for (const bench::RoutineCall& call : calls)
      if (strcmp(call.name, argv[1]) == 0) return run(call) ? 0 : 2;
  }
  fprintf(stderr, "safestdlib-instructions: no routine '%s'\n", argv[1]);
  return 2;
}
