// RoutineCalls.h: the thirteen routines, each beside the bare C library call
// it wraps, on the same inputs: the one list that the tests, the benchmarks
// and the instruction counter share. A bare call that leaves its result in
// static storage copies it out, as the wrapper does.
#ifndef SafeStdLib_RoutineCalls_H
#define SafeStdLib_RoutineCalls_H

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <mutex>
#include <thread>

#include "OS.h"
#include "SafeStdLib.h"

namespace routines {

struct RoutineCall {
  const char* name;
  void (*wrapped)();
  void (*bare)();
};

inline char gText[128];
inline struct tm gBrokenDown = {};
inline const time_t gWhen = 1234567890;
inline FILE* gDevNull = nullptr;  // set up by the program

inline void CopyText(const char* text) {
  strncpy(gText, text, sizeof gText - 1);
  gText[sizeof gText - 1] = '\0';
}

// Empty volatile sink: keeps the compiler from dropping a bare call.
inline void Keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

// The routines, in the order of kRoutineCalls.
enum class Routine {
  kMaxprintf,
  kPrintf,
  kFprintf,
  kSprintf,
  kSnprintf,
  kStrftime,
  kStrerror,
  kCtime,
  kAsctime,
  kGmtime,
  kLocaltime,
  kGetMaxPrintfCharsInK,
  kSetMaxPrintfCharsInK,
};
constexpr int kRoutineCount = 13;

inline const RoutineCall kRoutineCalls[kRoutineCount] = {
    {"maxprintf", [] { zuvo_maxprintf("%s %d\n", "line", 42); },
     [] { printf("%s %d\n", "line", 42); }},
    {"printf", [] { zuvo_printf("%s %d\n", "line", 42); }, [] { printf("%s %d\n", "line", 42); }},
    {"fprintf", [] { zuvo_fprintf(gDevNull, "%s %d\n", "line", 42); },
     [] { fprintf(gDevNull, "%s %d\n", "line", 42); }},
    {"sprintf", [] { zuvo_sprintf(gText, "%s %d", "line", 42); },
     [] { sprintf(gText, "%s %d", "line", 42); }},
    {"snprintf", [] { zuvo_snprintf(gText, sizeof gText, "%s %d", "line", 42); },
     [] { snprintf(gText, sizeof gText, "%s %d", "line", 42); }},
    {"strftime", [] { zuvo_strftime(gText, sizeof gText, "%Y-%m-%d %H:%M:%S", &gBrokenDown); },
     [] { strftime(gText, sizeof gText, "%Y-%m-%d %H:%M:%S", &gBrokenDown); }},
    {"strerror", [] { zuvo_strerror(ENOENT, gText, sizeof gText); },
     [] { CopyText(strerror(ENOENT)); }},
    {"ctime", [] { zuvo_ctime(&gWhen, gText, sizeof gText); }, [] { CopyText(ctime(&gWhen)); }},
    {"asctime", [] { zuvo_asctime(&gBrokenDown, gText, sizeof gText); },
     [] { CopyText(asctime(&gBrokenDown)); }},
    {"gmtime", [] { zuvo_gmtime(&gWhen, &gBrokenDown); }, [] { gBrokenDown = *gmtime(&gWhen); }},
    {"localtime", [] { zuvo_localtime(&gWhen, &gBrokenDown); },
     [] { gBrokenDown = *localtime(&gWhen); }},
    {"getmaxprintfcharsinK", [] { Keep(reinterpret_cast<void*>(zuvo_getmaxprintfcharsinK())); },
     [] { Keep(nullptr); }},
    {"setmaxprintfcharsinK", [] { zuvo_setmaxprintfcharsinK(4294967295u); }, [] { Keep(nullptr); }},
};

static_assert(sizeof kRoutineCalls / sizeof kRoutineCalls[0] == kRoutineCount);

// The reentrant forms a user might pick instead of a wrapper.
inline const RoutineCall kReentrantCalls[] = {
    {"strerror_r", nullptr, [] { Keep(strerror_r(ENOENT, gText, sizeof gText)); }},
    {"ctime_r", nullptr, [] { Keep(ctime_r(&gWhen, gText)); }},
    {"asctime_r", nullptr, [] { Keep(asctime_r(&gBrokenDown, gText)); }},
    {"gmtime_r", nullptr, [] { Keep(gmtime_r(&gWhen, &gBrokenDown)); }},
    {"localtime_r", nullptr, [] { Keep(localtime_r(&gWhen, &gBrokenDown)); }},
};

// Lock-and-unlock pairs: the standard-library mutex (wrapped) against the
// bare pthread mutex, and glibc's and the standard library's other locks.
inline pthread_mutex_t gPthreadMutex = PTHREAD_MUTEX_INITIALIZER;
inline pthread_mutex_t gPthreadRecursive = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
inline std::mutex gStdMutex;
inline std::recursive_mutex gStdRecursive;

inline const RoutineCall kLockCalls[] = {
    {"lock",
     []() OS_NO_THREAD_SAFETY_ANALYSIS {
       OS::sStdLibOSMutex.Lock();
       OS::sStdLibOSMutex.Unlock();
     },
     [] {
       pthread_mutex_lock(&gPthreadMutex);
       pthread_mutex_unlock(&gPthreadMutex);
     }},
    {"lock_recursive_pthread", nullptr,
     [] {
       pthread_mutex_lock(&gPthreadRecursive);
       pthread_mutex_unlock(&gPthreadRecursive);
     }},
    {"lock_std_mutex", nullptr,
     [] {
       gStdMutex.lock();
       gStdMutex.unlock();
     }},
    {"lock_std_recursive", nullptr,
     [] {
       gStdRecursive.lock();
       gStdRecursive.unlock();
     }},
};

// Opens gDevNull and fills gBrokenDown: what the calls need, and all that a
// test needs.
inline void PrepareRoutineCalls() {
  gDevNull = fopen("/dev/null", "w");
  gmtime_r(&gWhen, &gBrokenDown);
}

// For measuring: makes the process multi-threaded, as a server is (glibc
// takes its own locks without atomic instructions until a second thread
// has existed), sends standard output to /dev/null, fixes the zone so that
// localtime reads no zone file, and lifts the output limit out of reach.
inline void SetUpRoutineCalls() {
  std::thread([] {}).join();
  if (freopen("/dev/null", "w", stdout) == nullptr) perror("freopen");
  setenv("TZ", "UTC0", 1);
  tzset();
  PrepareRoutineCalls();
  zuvo_setmaxprintfcharsinK(4294967295u);
}

}  // namespace routines

#endif
