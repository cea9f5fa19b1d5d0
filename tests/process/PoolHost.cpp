// A host whose worker pool (in a shared library of its own, or in the
// executable) is stopped and joined by a static destructor while the
// process exits, and whose task prints through the library as it begins and
// as it ends. main() returns while the worker prints; the process must end
// with every line whole and printed once (Expect.cmake's ROUNDS check).
#include <time.h>

#include <atomic>

#include "SafeStdLib.h"
#include "WorkerPool.h"

namespace {

std::atomic<int> gRoundsEnded{0};

void PauseMillis(long millis) {
  const timespec pause = {0, millis * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

void PrintRound(int round) {
  zuvo_printf("round %d begins\n", round);
  PauseMillis(2);
  zuvo_printf("round %d ends\n", round);
  ++gRoundsEnded;
}

}  // namespace

int main() {
  PoolStart(PrintRound);
  while (gRoundsEnded < 3) PauseMillis(1);
  return 0;
}
