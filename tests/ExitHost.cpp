// A host that ends while its threads are still printing: the program that
// ExitTest runs and reads.
//
//   exit_host print   three threads print numbered lines through zuvo_printf
//                     while main() returns; an exit handler and a static
//                     destructor registered in main() print after them
//   exit_host stuck   a thread holds the standard-library mutex for good
//                     while main() returns

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "OS.h"
#include "SafeStdLib.h"

namespace {

void* PrintLines(void* arg) {
  const int thread = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int line = 0;; ++line) {
    zuvo_printf("T%d L%d ..........................................................\n", thread,
                line);
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
  if (strcmp(argv[1], "print") == 0) {
    static PrintsWhenDestroyed destroyed;
    if (atexit(PrintAtExit) != 0) return 1;
    for (intptr_t t = 0; t < 3; ++t) Start(PrintLines, t);
    usleep(20 * 1000);
    return 0;
  }
  if (strcmp(argv[1], "stuck") == 0) {
    Start(HoldForGood, 0);
    usleep(20 * 1000);
    return 0;
  }
  return 2;
}
