// RoutineTables.h: the calls of RoutineCalls.h as tables, for the C++ tests
// and the benchmarks: every routine of the list, in its order
// (kRoutineCalls, indexed by Routine), each checked entry's calls
// (kCheckedCalls), the reentrant forms a user might pick instead, and the
// locks. The routine tables are made from the list, so they hold every
// routine it names and no other, and a routine without its calls in
// RoutineCalls.h fails a static_assert that names it.
#ifndef SafeStdLib_RoutineTables_H
#define SafeStdLib_RoutineTables_H

#include <pthread.h>
#include <stdlib.h>

#include <iterator>
#include <mutex>
#include <thread>
#include <type_traits>

#include "OS.h"
#include "RoutineCalls.h"

// A row without its calls in RoutineCalls.h finds these placeholders, in
// the enclosing namespace, instead of functions, and the static_assert
// below names it.
namespace routines_missing {
struct NoCall {};
}  // namespace routines_missing
#define ROUTINE_PLACEHOLDERS(name, linkage, kind, checked)                                     \
  inline constexpr routines_missing::NoCall Wrapped_##name{}, Bare_##name{}, Checked_##name{}, \
      BareChecked_##name{};
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(ROUTINE_PLACEHOLDERS, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef ROUTINE_PLACEHOLDERS

namespace routines {

struct RoutineCall {
  const char* name;
  void (*wrapped)();
  void (*bare)();
};

// The routines, in the list's order.
enum class Routine {
#define ROUTINE_ENUMERATOR(name, linkage, kind, checked) name,
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(ROUTINE_ENUMERATOR, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef ROUTINE_ENUMERATOR
};

template <typename Call>
constexpr bool kHasCall = !std::is_same_v<std::remove_cv_t<Call>, routines_missing::NoCall>;

// A routine's name without its zuvo_ prefix, as the benchmarks print it.
constexpr const char* ShortName(const char* name) { return name + sizeof "zuvo_" - 1; }

// A row's entry; an entry of nothing for a row that has no calls, which
// the static_assert has already named.
template <typename Wrapped, typename Bare>
constexpr RoutineCall Entry(const char* name, Wrapped wrapped, Bare bare) {
  if constexpr (kHasCall<Wrapped> && kHasCall<Bare>) {
    return {ShortName(name), wrapped, bare};
  } else {
    return {ShortName(name), nullptr, nullptr};
  }
}

#define ROUTINE_HAS_CALLS(name, linkage, kind, checked)                                           \
  static_assert(kHasCall<decltype(Wrapped_##name)> && kHasCall<decltype(Bare_##name)>,            \
                #name ": a routine of the list without Wrapped_" #name " and Bare_" #name         \
                      " in tests/RoutineCalls.h");                                                \
  ROUTINE_IF_##checked(                                                                           \
      static_assert(kHasCall<decltype(Checked_##name)> && kHasCall<decltype(BareChecked_##name)>, \
                    #name ": a CHECKED routine without Checked_" #name " and BareChecked_" #name  \
                          " in tests/RoutineCalls.h");)
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(ROUTINE_HAS_CALLS, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef ROUTINE_HAS_CALLS

// Every routine of the list, in its order: kRoutineCalls[int(Routine::r)]
// is r's.
inline constexpr RoutineCall kRoutineCalls[] = {
#define ROUTINE_ENTRY(name, linkage, kind, checked) Entry(#name, Wrapped_##name, Bare_##name),
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(ROUTINE_ENTRY, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef ROUTINE_ENTRY
};
constexpr int kRoutineCount = static_cast<int>(std::size(kRoutineCalls));

// Each CHECKED routine, in the list's order, given the room at run time.
inline constexpr RoutineCall kCheckedCalls[] = {
#define ROUTINE_CHECKED_ITEM(name) Entry(#name, Checked_##name, BareChecked_##name),
#define ROUTINE_CHECKED_ENTRY(name, linkage, kind, checked) \
  ROUTINE_IF_##checked(ROUTINE_CHECKED_ITEM(name))
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(ROUTINE_CHECKED_ENTRY, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef ROUTINE_CHECKED_ENTRY
#undef ROUTINE_CHECKED_ITEM
};

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
