#include "WorkerPool.h"

#include <atomic>
#include <thread>

namespace {

struct WorkerPool {
  std::atomic<bool> fStopping{false};
  std::thread fWorker;
  ~WorkerPool() {
    fStopping = true;
    if (fWorker.joinable()) fWorker.join();
  }
};

// Made before the library starts where both are in one executable, as in a
// shared library loaded with it: its destructor runs after the library's
// exit handler.
__attribute__((init_priority(101))) WorkerPool gPool;

}  // namespace

void PoolStart(void (*task)(int round)) {
  gPool.fWorker = std::thread([task] {
    for (int round = 0;; ++round) {
      const bool last = gPool.fStopping;
      task(round);
      if (last) return;
    }
  });
}
