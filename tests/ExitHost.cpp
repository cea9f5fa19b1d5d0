// A host that ends while its threads are still printing: the program that
// ExitTest runs and reads, and bench/exit_lines.py measures.
//
//   exit_host print   four threads print numbered lines through zuvo_printf
//                     while main() returns; an exit handler and a static
//                     destructor registered in main() print after them
//   exit_host slow    two threads print numbered lines through zuvo_printf
//                     into a pipe that the caller reads late; main() returns
//                     once they have filled it and are blocked (or after
//                     half a second)
//   exit_host stuck   a thread holds the standard-library mutex for good
//                     while main() returns
//   print-plain, slow-plain: print and slow with the C library's printf,
//                     for comparison (bench/exit_lines.py)
//
// Each line is "T<thread> L<number> " and kExitLinePayload dots: longer than
// the piece in which glibc writes a print to an unbuffered stream, as every
// stream is once the exit's flush is done.

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "OS.h"
#include "SafeStdLib.h"

namespace {

constexpr size_t kExitLinePayload = 300;
char gPayload[kExitLinePayload + 1];
bool gPlain = false;
int gLinesPrinted = 0;  // by all the threads, atomically

void* PrintLines(void* arg) {
  const int thread = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int line = 0;; ++line) {
    if (gPlain)
      printf("T%d L%d %s\n", thread, line, gPayload);
    else
      zuvo_printf("T%d L%d %s\n", thread, line, gPayload);
    __atomic_fetch_add(&gLinesPrinted, 1, __ATOMIC_RELAXED);
    sched_yield();  // lets the exiting thread in sooner, as a real host's pauses would
  }
  return nullptr;
}

void* HoldForGood(void*) OS_NO_THREAD_SAFETY_ANALYSIS {
  OS::GetStdLibMutex()->Lock();
  for (;;) pause();
  return nullptr;
}

void PrintAtExit() { zuvo_printf("exit handler\n"); }

struct PrintsWhenDestroyed {
  ~PrintsWhenDestroyed() { zuvo_printf("static destructor\n"); }
};

void Start(void* (*body)(void*), intptr_t arg) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, body, reinterpret_cast<void*>(arg)) != 0) abort();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  memset(gPayload, '.', kExitLinePayload);
  const char* const mode = argv[1];
  gPlain = strstr(mode, "-plain") != nullptr;
  if (strncmp(mode, "print", 5) == 0) {
    static PrintsWhenDestroyed destroyed;
    if (atexit(PrintAtExit) != 0) return 1;
    for (intptr_t t = 0; t < 4; ++t) Start(PrintLines, t);
    usleep(5 * 1000);
    return 0;
  }
  if (strncmp(mode, "slow", 4) == 0) {
    for (intptr_t t = 0; t < 2; ++t) Start(PrintLines, t);
    // However loaded the machine, main() returns only once the threads
    // block in a print: they have printed what fills the pipe (a line
    // counted high: "T0 L1234 ", the payload and the newline), and the
    // count has stood still for 50 ms. At most a second.
    const int pipeBytes = fcntl(STDOUT_FILENO, F_GETPIPE_SZ);
    const int fullAt = pipeBytes / (static_cast<int>(kExitLinePayload) + 10);
    int last = -1;
    for (int waited = 0, still = 0; waited < 1000 && still < 50; ++waited) {
      const int printed = __atomic_load_n(&gLinesPrinted, __ATOMIC_RELAXED);
      still = pipeBytes > 0 && printed >= fullAt && printed == last ? still + 1 : 0;
      last = printed;
      usleep(1000);
    }
    return 0;
  }
  if (strcmp(mode, "stuck") == 0) {
    Start(HoldForGood, 0);
    usleep(20 * 1000);
    return 0;
  }
  return 2;
}
