// safestdlib-instructions NAME VARIANT N: makes N calls of one routine
// (VARIANT wrapped) or of its bare C library call (VARIANT bare). Run under
// callgrind at two values of N: the difference in instructions, divided by
// the difference in N, is the exact cost of one call.
//
// safestdlib-instructions --lock-path: prints how the library chose at
// start-up to lock its mutex, "fast path" (it drives glibc's lock word
// itself) or "pthread calls", and exits 0; exits 1 when it cannot tell.
//
// safestdlib-instructions --routines: prints the names of the routines of
// the list, without their zuvo_ prefix, one a line, in the list's order.
//
// safestdlib-instructions --shapes: prints the names of kShapeCalls, the
// costs that are not one routine's: an empty call (what the loop itself
// costs), a level taken and given back by a thread that already holds the
// mutex, and a timestamped log line, each way. NAME_tz_unset runs NAME with
// TZ unset, as a service started without it runs.
//
// safestdlib-instructions --checked: prints checked_NAME for each routine
// of the list that has a checked entry: its call that a host built with
// _FORTIFY_SOURCE checks (the buffer's size known, the size given read at
// run time), then two formats that the format checks of a fortified host
// read further (numbered_fprintf, count_fprintf).
// safestdlib-instructions-fortify is this program built with
// -D_FORTIFY_SOURCE=2.

#include <stdlib.h>
#include <string.h>

#include <span>
#include <type_traits>

#if defined(__GLIBC__)
#  include <sys/syscall.h>
#  include <unistd.h>
#endif

#include "RoutineTables.h"

namespace {

// Takes the library's mutex once and looks at what the taking left in it.
// OSMutex is standard-layout with its pthread mutex first, so the mutex is
// readable at the object's address. pthread_mutex_lock() records the kernel
// thread id of the taker in glibc's __owner; the fast path takes the lock
// word alone and leaves __owner at 0.
int PrintLockPath() OS_NO_THREAD_SAFETY_ANALYSIS {
#if defined(__GLIBC__)
  static_assert(std::is_standard_layout_v<OSMutex>, "OSMutex's first member is its address");
  const auto* mutex = reinterpret_cast<const volatile pthread_mutex_t*>(&OS::sStdLibOSMutex);
  OS::sStdLibOSMutex.Lock();
  const int owner = mutex->__data.__owner;
  OS::sStdLibOSMutex.Unlock();
  if (owner == 0) {
    puts("fast path");
    return 0;
  }
  if (owner == static_cast<int>(syscall(SYS_gettid))) {
    puts("pthread calls");
    return 0;
  }
  fprintf(stderr, "safestdlib-instructions: the mutex's owner is %d, not this thread\n", owner);
  return 1;
#else
  // Only glibc's mutex has a fast path.
  puts("pthread calls");
  return 0;
#endif
}

// The prefix of a checked call's name.
const char kChecked[] = "checked_";

// Numbered arguments, which ISO C++ does not have: -Wformat reads no format
// held in writable memory (where glibc's checks allow it, without %n).
char gNumbered[] = "%2$s %1$d\n";

// The formats that the format checks read further: numbered arguments,
// and a %n (in read-only memory), whose check reads /proc/self/maps.
const routines::RoutineCall kFormatCalls[] = {
    {"numbered_fprintf", [] { zuvo_fprintf(routines::gDevNull, gNumbered, 42, "line"); },
     [] { fprintf(routines::gDevNull, gNumbered, 42, "line"); }},
    {"count_fprintf",
     [] {
       int count;
       zuvo_fprintf(routines::gDevNull, "%s %d%n\n", "line", 42, &count);
     },
     [] {
       int count;
       fprintf(routines::gDevNull, "%s %d%n\n", "line", 42, &count);
     }},
};

const char kLineFormat[] = "%s worker %u request %ld GET /items/%ld 200 OK\n";

// The log line a host writes under one hold of the mutex, and the one it
// writes with the C library alone.
// Both convert the same time, so that the C library's own work is the same
// in each (its cost varies with the date); the routine reads the clock
// itself, once, to know whether to set the zone again.
void WrappedLine() OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutexLocker line(OS::GetStdLibMutex());
  const time_t now = routines::gWhen;
  struct tm local;
  char stamp[32];
  zuvo_strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", zuvo_localtime(&now, &local));
  zuvo_printf(kLineFormat, stamp, 3u, 42L, 7L);
}
void BareLine() {
  const time_t now = routines::gWhen;
  struct tm local;
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", localtime_r(&now, &local));
  printf(kLineFormat, stamp, 3u, 42L, 7L);
}

// wrapped less bare is the cost of the shape: nothing for "empty", one
// nested level of the host's OSMutex entries for "nested", what the
// printer adds for a caller that holds the mutex for "printf_held", what
// the library adds to the line for "line".
const routines::RoutineCall kShapeCalls[] = {
    {"empty", [] {}, [] {}},
    {"nested",
     []() OS_NO_THREAD_SAFETY_ANALYSIS {
       OS::sStdLibOSMutex.Lock();
       OS::sStdLibOSMutex.Lock();
       OS::sStdLibOSMutex.Unlock();
       OS::sStdLibOSMutex.Unlock();
     },
     []() OS_NO_THREAD_SAFETY_ANALYSIS {
       OS::sStdLibOSMutex.Lock();
       OS::sStdLibOSMutex.Unlock();
     }},
    {"printf_held",
     []() OS_NO_THREAD_SAFETY_ANALYSIS {
       OSMutexLocker line(OS::GetStdLibMutex());
       zuvo_printf("%s %d\n", "line", 42);
     },
     []() OS_NO_THREAD_SAFETY_ANALYSIS {
       OSMutexLocker line(OS::GetStdLibMutex());
       printf("%s %d\n", "line", 42);
     }},
    {"line", WrappedLine, BareLine},
    {"line_tz_unset", WrappedLine, BareLine},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--lock-path") == 0) return PrintLockPath();
  if (argc == 2 && strcmp(argv[1], "--routines") == 0) {
    for (const routines::RoutineCall& call : routines::kRoutineCalls) printf("%s\n", call.name);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--shapes") == 0) {
    for (const routines::RoutineCall& call : kShapeCalls) printf("%s\n", call.name);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--checked") == 0) {
    for (const routines::RoutineCall& call : routines::kCheckedCalls)
      printf("%s%s\n", kChecked, call.name);
    for (const routines::RoutineCall& call : kFormatCalls) printf("%s\n", call.name);
    return 0;
  }
  if (argc != 4) {
    fprintf(stderr,
            "usage: safestdlib-instructions NAME wrapped|bare N\n"
            "       safestdlib-instructions --lock-path | --routines | --checked | --shapes\n");
    return 2;
  }
  const bool wrapped = strcmp(argv[2], "wrapped") == 0;
  const long n = strtol(argv[3], nullptr, 10);
  routines::SetUpRoutineCalls();
  const size_t nameLength = strlen(argv[1]);
  if (nameLength > 9 && strcmp(argv[1] + nameLength - 9, "_tz_unset") == 0) {
    unsetenv("TZ");
    tzset();
  }
  auto run = [&](const routines::RoutineCall& call) {
    void (*fn)() = wrapped ? call.wrapped : call.bare;
    if (fn == nullptr) return false;
    // One warm-up call, so that first-call set-up is the same at every N.
    fn();
    for (long i = 0; i < n; ++i) fn();
    return true;
  };
  using Calls = std::span<const routines::RoutineCall>;
  const size_t prefix = sizeof kChecked - 1;
  if (strncmp(argv[1], kChecked, prefix) == 0) {
    for (const routines::RoutineCall& call : routines::kCheckedCalls)
      if (strcmp(call.name, argv[1] + prefix) == 0) return run(call) ? 0 : 2;
  } else {
    for (Calls calls : {Calls(routines::kRoutineCalls), Calls(routines::kReentrantCalls),
                        Calls(routines::kLockCalls), Calls(kShapeCalls), Calls(kFormatCalls)}) {
      for (const routines::RoutineCall& call : calls)
        if (strcmp(call.name, argv[1]) == 0) return run(call) ? 0 : 2;
    }
  }
  fprintf(stderr, "safestdlib-instructions: no routine '%s'\n", argv[1]);
  return 2;
}
