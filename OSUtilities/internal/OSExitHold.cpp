// OSExitHold.cpp: at exit, the exiting thread takes the standard-library
// mutex for good before the C library flushes its streams, so that no line
// printed through the routines is torn, cut or written twice.
//
// Arranged by the copy in charge of the process alone (OSArmExitHold()),
// which is never unloaded. The printers meet the hold through the process
// record's OSProcessExit (InternalStdLib.cpp).

#include "OSUtilities/internal/OSExitHold.h"

#include <time.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSClock.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessJoin.h"
#include "OSUtilities/internal/OSProcessRecord.h"

extern "C" int __cxa_atexit(void (*func)(void*), void* arg, void* dsoHandle);

namespace {

// How long the exit hold waits for another thread to let go of the mutex.
constexpr int kExitWaitMillis = 500;
// How often it tries.
constexpr int kExitTickMicros = 100;

// Whether this copy took charge of the process, and so holds the mutex at
// exit.
bool sArmed = false;

// Where this process's exit hold is: not arranged (no exit under way),
// registered with the C library, waiting for the mutex, or over.
// Atomically.
enum HoldState : int { kHoldNone, kHoldArranged, kHoldWaiting, kHoldOver };
int sHoldState = kHoldNone;

// Whether the C library's flush at exit leaves no room for a print: musl
// takes each stream's lock as it flushes and keeps it, so a print either
// ends before the flush or never begins. glibc does not, on any version:
// before 2.41 it flushes and unbuffers its streams without their locks, so
// a print that another thread is making then is torn or written twice;
// from 2.41 it takes each lock only while it flushes that stream and
// leaves it unbuffered, so a print that begins after the flush goes out in
// pieces of its own buffer's size and is cut where the process ends
// (libio/genops.c, _IO_cleanup and _IO_unbuffer_all: without the locks in
// glibc 2.31 to 2.40, with each lock for its own stream from 2.41; musl's
// src/stdio/__stdio_exit.c, which keeps them).
bool ExitFlushKeepsStreamsLocked() {
#if OS_MUSL
  return true;
#else
  return false;
#endif
}

// Runs after every exit handler and every destructor, the shared
// libraries' included, just before the C library flushes its streams.
// From here on the exiting thread holds the mutex for good, so no thread
// that prints through the routines is inside the C library during the
// flush or after it; the mutex is recursive, so the exiting thread itself
// keeps full use of them. A print under way is waited for however long it
// takes: one blocked on a slow reader holds the exit up no longer than the
// C library's own flush would, which writes to the same reader. A holder
// that is not printing is waited for kExitWaitMillis in all, and then does
// not stop the exit (the time between two tries counts as the holder's
// state at the first). While it waits, a printer that takes the mutex lets
// it go again (InternalStdLib.cpp), so threads that print without a pause
// cannot keep it from the exit.
//
// Once it has the mutex, or has given up on its holder, the hold is over:
// it marks that and wakes the sleepers, and from then on a routine waits
// for the mutex until OSMutexProtocol::kAfterExitHoldMillis later at most,
// and then makes its call without it (a print: none). A thread that holds
// a stream (flockfile, a stream's write function) and calls a routine then
// lets go of the stream in bounded time, for the C library's final flush,
// which from 2.41 takes each stream's lock. A process whose exit has more
// than one hold registered (below) holds once.
void HoldAtExit(void*) OS_NO_THREAD_SAFETY_ANALYSIS {
  int arranged = kHoldArranged;
  if (!__atomic_compare_exchange_n(&sHoldState, &arranged, kHoldWaiting, false, __ATOMIC_ACQ_REL,
                                   __ATOMIC_ACQUIRE))
    return;
  OSProcessExit& printers = *OSPrivate::sView.fExit;
  const struct timespec tick = {0, kExitTickMicros * 1000};
  const UInt64 bound = static_cast<UInt64>(kExitWaitMillis) * 1000 * 1000;
  __atomic_store_n(&printers.fExitHold, kOSExitHoldWaiting, __ATOMIC_RELAXED);
  UInt64 waited = 0;  // while the holder was not printing
  for (UInt64 last = OSNowNanos(); !OS::sStdLibOSMutex.TryLock();) {
    const bool printing = __atomic_load_n(&printers.fPrinting, __ATOMIC_RELAXED) != 0;
    nanosleep(&tick, nullptr);
    const UInt64 now = OSNowNanos();
    if (!printing) waited += now - last;
    last = now;
    if (waited >= bound) break;
  }
  __atomic_store_n(&sHoldState, kHoldOver, __ATOMIC_RELEASE);
  __atomic_store_n(&printers.fExitHold, kOSExitHoldOver, __ATOMIC_RELEASE);
  OSMutexProtocol::WakeWaiters(OS::sStdLibOSMutex);
}

}  // namespace

// Runs in the copy in charge, which is never unloaded, so only while the
// process exits: from the dynamic linker's finalisation, after the
// process's own exit handlers. A handler registered here runs once all the
// destructors have run, the shared libraries' included, so that none of
// them can wait for a thread that waits for the exit hold.
//
// The hold is registered twice: glibc takes an exit handler off its list
// as it runs it, so a child forked while the first runs would have none of
// its own. The parent runs the second to no effect, its hold being over,
// and a child forked before that has it on its list, for its own exit. A
// fork's handlers cannot register one: glibc runs them holding its
// fork-handler lock, which its finalisation of an object, under way in the
// exiting thread, takes while it holds the exit handlers' lock. A child
// forked once the hold is over has none. (From glibc 2.41 a child forked
// during its parent's exit cannot run exit() at all: the C library's own
// exit lock stays taken there. _exit() is its way out.)
__attribute__((destructor(101))) static void OSArrangeExitHold() {
  if (!sArmed || ExitFlushKeepsStreamsLocked()) return;
  if (__cxa_atexit(HoldAtExit, nullptr, nullptr) != 0) {
    OSSayOfThisCopy("cannot hold the mutex at exit: a print may be torn by the final flush");
    return;
  }
  __atomic_store_n(&sHoldState, kHoldArranged, __ATOMIC_RELEASE);
  (void)__cxa_atexit(HoldAtExit, nullptr, nullptr);  // without it, no hold in such a child
}

void OSArmExitHold() { sArmed = true; }

void OSStartChildWithoutTheExit() {
  OSProcessExit& printers = *OSPrivate::sView.fExit;
  __atomic_store_n(&printers.fPrinting, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&printers.fExitHold, kOSExitHoldNone, __ATOMIC_RELAXED);
  const int hold = __atomic_load_n(&sHoldState, __ATOMIC_RELAXED);
  __atomic_store_n(&sHoldState,
                   hold == kHoldArranged || hold == kHoldWaiting ? kHoldArranged : kHoldNone,
                   __ATOMIC_RELAXED);
}
