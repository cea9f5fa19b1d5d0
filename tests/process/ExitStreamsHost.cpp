// A host that exits while its threads hold streams or fork: the program
// that ExitHoldTest runs. Every mode returns from main() while the threads
// are still at work; the test requires that the process, and every child
// it forked, ends.
//
//   exit_streams_host fork-waiting     a thread holds the standard-library
//                     mutex outside a print while main() returns; while the
//                     exit waits for it, the thread forks, and the child
//                     lets go and prints "child printed"
//   fork-child-exit   the same fork; the child's thread lets go, a second
//                     thread of the child holds the mutex for 200 ms, then
//                     prints "child's holder let go", while the child calls
//                     exit(): its own exit waits for that thread
//   fork-busy         three threads log while a fourth forks helpers that
//                     each print one line; main() returns after 300 ms
//   flockfile         a thread holds a log stream (flockfile) across the
//                     exit, then calls zuvo_snprintf and writes to it
//   flockfile-loop    two threads hold the log stream, call zuvo_snprintf,
//                     write and let go, again and again
//   cookie            three threads write with fprintf to a stream of the
//                     host's own (fopencookie), whose write function stamps
//                     each piece with zuvo_localtime and zuvo_strftime
//   after-hold        a late exit handler (LateExitHandler.cpp) keeps the
//                     exit going after the hold has the mutex; meanwhile a
//                     thread calls every routine at once, each from a thread
//                     of its own, and says whether each gave what it gave
//                     before the exit, then forks, and the child prints
//                     "child printed"
//   after-hold-alone  the same without the fork

#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "OS.h"
#include "SafeStdLib.h"

extern "C" void SetLateExitHandler(void (*late)());

namespace {

int gExiting = 0;  // set, atomically, by the first exit handler
sem_t gReady;
FILE* gLog = nullptr;

void SleepMillis(long millis) {
  const struct timespec pause = {millis / 1000, (millis % 1000) * 1000 * 1000};
  nanosleep(&pause, nullptr);
}

void MarkExiting() { __atomic_store_n(&gExiting, 1, __ATOMIC_RELEASE); }

// Returns once main() has returned and the exit handlers run, and then
// millis more: long enough for the exit to reach its hold of the mutex.
void WaitForTheExit(long millis) {
  while (__atomic_load_n(&gExiting, __ATOMIC_ACQUIRE) == 0) SleepMillis(1);
  SleepMillis(millis);
}

// Starts a detached thread: some end before the process does, and nothing
// joins them.
void Start(void* (*body)(void*), intptr_t arg) {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, body, reinterpret_cast<void*>(arg)) != 0 ||
      pthread_detach(thread) != 0)
    abort();
}

void* HoldForTwoHundredMillis(void*) OS_NO_THREAD_SAFETY_ANALYSIS {
  OS::GetStdLibMutex()->Lock();
  sem_post(&gReady);
  SleepMillis(200);
  zuvo_printf("child's holder let go\n");
  OS::GetStdLibMutex()->Unlock();
  return nullptr;
}

// Holds the mutex, outside a print, until the exit waits for it, and forks.
void* ForkWhileTheExitWaits(void* childExits) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutex& mutex = *OS::GetStdLibMutex();
  mutex.Lock();
  sem_post(&gReady);
  WaitForTheExit(50);
  const pid_t pid = fork();
  if (pid == 0) {
    mutex.Unlock();
    if (childExits == nullptr) {
      zuvo_printf("child printed\n");
      fflush(stdout);
      _exit(0);
    }
    Start(HoldForTwoHundredMillis, 0);
    sem_wait(&gReady);
    exit(0);
  }
  mutex.Unlock();
  if (pid > 0) waitpid(pid, nullptr, 0);
  return nullptr;
}

void* LogLines(void* arg) {
  const int thread = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int line = 0;; ++line) {
    zuvo_printf("logger %d line %d\n", thread, line);
    SleepMillis(1);
  }
  return nullptr;
}

void* ForkHelpers(void*) {
  for (int helper = 0;; ++helper) {
    const pid_t pid = fork();
    if (pid == 0) {
      zuvo_printf("helper %d\n", helper);
      fflush(stdout);
      _exit(0);
    }
    if (pid > 0) waitpid(pid, nullptr, 0);
  }
  return nullptr;
}

void* HoldTheLogAcrossTheExit(void*) {
  flockfile(gLog);
  sem_post(&gReady);
  WaitForTheExit(50);
  char text[32];
  zuvo_snprintf(text, sizeof text, "held %d\n", 1);
  fputs(text, gLog);
  funlockfile(gLog);
  return nullptr;
}

void* HoldTheLogAgainAndAgain(void* arg) {
  const int thread = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int line = 0;; ++line) {
    flockfile(gLog);
    char text[48];
    zuvo_snprintf(text, sizeof text, "thread %d line %d\n", thread, line);
    fputs(text, gLog);
    funlockfile(gLog);
  }
  return nullptr;
}

ssize_t StampAndWrite(void*, const char* data, size_t size) {
  const time_t now = time(nullptr);
  struct tm local;
  char stamp[16];
  if (zuvo_localtime(&now, &local) == nullptr ||
      zuvo_strftime(stamp, sizeof stamp, "%H:%M:%S ", &local) == 0)
    return -1;
  if (write(STDOUT_FILENO, stamp, strlen(stamp)) < 0) return -1;
  return write(STDOUT_FILENO, data, size);
}

void* WriteToTheSink(void* arg) {
  const int thread = static_cast<int>(reinterpret_cast<intptr_t>(arg));
  for (int line = 0;; ++line) fprintf(gLog, "thread %d line %d\n", thread, line);
  return nullptr;
}

// What the routines give, before the exit and once its hold is over.
struct Results {
  char formatted[32];
  char printed[32];
  char error[64];
  char ctimeText[32];
  char asctimeText[32];
  char stamp[32];
  struct tm utc;
  struct tm local;
  int capped;
  int written;
  UInt32 limit;
};

constexpr int kRoutines = 10;
const time_t kWhen = 86400 * 365 + 3723;
Results gBefore;
int gWorkerDone = 0;  // atomically
bool gForkAfterTheHold = true;

// Before the exit (when) and after the hold, each print says which.
void Call(int routine, Results& r, const char* when) {
  struct tm utc;
  gmtime_r(&kWhen, &utc);
  switch (routine) {
    case 0:
      zuvo_snprintf(r.formatted, sizeof r.formatted, "%d-%s", 42, "x");
      break;
    case 1:
      zuvo_sprintf(r.printed, "%05d", 7);
      break;
    case 2:
      zuvo_strerror(EINVAL, r.error, sizeof r.error);
      break;
    case 3:
      zuvo_ctime(&kWhen, r.ctimeText, sizeof r.ctimeText);
      break;
    case 4:
      zuvo_asctime(&utc, r.asctimeText, sizeof r.asctimeText);
      break;
    case 5:
      zuvo_strftime(r.stamp, sizeof r.stamp, "%Y-%m-%d %H:%M", &utc);
      break;
    case 6:
      zuvo_gmtime(&kWhen, &r.utc);
      break;
    case 7:
      zuvo_localtime(&kWhen, &r.local);
      break;
    case 8:
      r.capped = zuvo_maxprintf("capped %s\n", when);
      break;
    case 9:
      r.written = zuvo_printf("printed %s\n", when);
      r.limit = zuvo_getmaxprintfcharsinK();
      break;
  }
}

bool SameTime(const struct tm& a, const struct tm& b) {
  return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
         a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
         a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_gmtoff == b.tm_gmtoff;
}

void Say(const char* text) {
  if (write(STDOUT_FILENO, text, strlen(text)) < 0) _exit(3);
}

// Past the hold, each routine waits its bound for the mutex that the exit
// keeps, and then makes its call without it: the same results, but for
// the printers, which print nothing (-1), and the capped printer's limit,
// read as 0.
void* CallEveryRoutineAfterTheHold(void*) {
  WaitForTheExit(100);
  Results after;
  memset(&after, 0, sizeof after);
  std::vector<std::thread> callers;
  for (int routine = 0; routine < kRoutines; ++routine)
    callers.emplace_back([routine, &after] { Call(routine, after, "after the hold"); });
  for (std::thread& caller : callers) caller.join();
  const Results& b = gBefore;
  const bool same =
      strcmp(b.formatted, after.formatted) == 0 && strcmp(b.printed, after.printed) == 0 &&
      strcmp(b.error, after.error) == 0 && strcmp(b.ctimeText, after.ctimeText) == 0 &&
      strcmp(b.asctimeText, after.asctimeText) == 0 && strcmp(b.stamp, after.stamp) == 0 &&
      SameTime(b.utc, after.utc) && SameTime(b.local, after.local) && after.capped == -1 &&
      after.limit == 0 && after.written == -1;
  Say(same ? "every routine gave its result after the hold\n"
           : "a routine gave another result after the hold\n");
  const pid_t pid = gForkAfterTheHold ? fork() : -1;
  if (pid == 0) {
    zuvo_printf("child printed\n");
    fflush(stdout);
    _exit(0);
  }
  if (pid > 0) waitpid(pid, nullptr, 0);
  __atomic_store_n(&gWorkerDone, 1, __ATOMIC_RELEASE);
  return nullptr;
}

void WaitForTheWorker() {
  for (int waited = 0; waited < 10 * 1000 && __atomic_load_n(&gWorkerDone, __ATOMIC_ACQUIRE) == 0;
       ++waited)
    SleepMillis(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || sem_init(&gReady, 0, 0) != 0 || atexit(MarkExiting) != 0) return 2;
  const char* const mode = argv[1];
  if (strcmp(mode, "fork-waiting") == 0 || strcmp(mode, "fork-child-exit") == 0) {
    Start(ForkWhileTheExitWaits, strcmp(mode, "fork-child-exit") == 0);
    sem_wait(&gReady);
    return 0;
  }
  if (strcmp(mode, "fork-busy") == 0) {
    for (intptr_t t = 0; t < 3; ++t) Start(LogLines, t);
    Start(ForkHelpers, 0);
    SleepMillis(300);
    return 0;
  }
  if (strcmp(mode, "flockfile") == 0 || strcmp(mode, "flockfile-loop") == 0) {
    gLog = fdopen(dup(STDOUT_FILENO), "w");
    if (gLog == nullptr) return 1;
    if (strcmp(mode, "flockfile") == 0) {
      Start(HoldTheLogAcrossTheExit, 0);
      sem_wait(&gReady);
      return 0;
    }
    for (intptr_t t = 0; t < 2; ++t) Start(HoldTheLogAgainAndAgain, t);
    SleepMillis(20);
    return 0;
  }
  if (strncmp(mode, "after-hold", 10) == 0) {
    gForkAfterTheHold = strcmp(mode, "after-hold-alone") != 0;
    memset(&gBefore, 0, sizeof gBefore);
    for (int routine = 0; routine < kRoutines; ++routine) Call(routine, gBefore, "before");
    SetLateExitHandler(WaitForTheWorker);
    Start(CallEveryRoutineAfterTheHold, 0);
    return 0;
  }
  if (strcmp(mode, "cookie") == 0) {
    cookie_io_functions_t sink = {nullptr, StampAndWrite, nullptr, nullptr};
    gLog = fopencookie(nullptr, "w", sink);
    if (gLog == nullptr) return 1;
    for (intptr_t t = 0; t < 3; ++t) Start(WriteToTheSink, t);
    SleepMillis(20);
    return 0;
  }
  return 2;
}
