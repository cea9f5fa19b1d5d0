/*
 * OS.h: process-wide services of the host's utilities library.
 *
 * OS::sStdLibOSMutex is the standard-library mutex: every SafeStdLib routine
 * makes its C library call while holding it, and host code that calls the
 * C library's non-reentrant routines itself should hold it too. It is
 * usable from the first static constructor to the end of the process, and
 * across fork(). Valid C++11.
 */
#ifndef OS_H
#define OS_H

#include "OSHeaders.h"
#include "OSMutex.h"

// OSMutexContention
//
// How the standard-library mutex has been waited for since the process
// started, by every thread through every copy of the library. Only waits
// are counted: an acquisition that did not wait changes nothing.
struct OSMutexContention {
  UInt64 fContendedLocks;    // acquisitions that had to wait
  UInt64 fWaitNanos;         // the time they waited, in all
  UInt64 fLongestWaitNanos;  // the longest single wait
  UInt64 fKernelWaits;       // waits that went on to sleep in the kernel
};

class SAFESTDLIB_API OS {
 public:
  OS() = delete;

  // GetStdLibMutexContention()
  //
  // A consistent snapshot of the standard-library mutex's contention. Takes
  // the mutex, so it blocks while another thread holds it; a holder may
  // call it.
  static OSMutexContention GetStdLibMutexContention();

  // SetStdLibMutexTracer()
  //
  // After each acquisition of the standard-library mutex that had to wait,
  // the thread that waited calls tracer(message, mutex, waitNanos), holding
  // the mutex and with cancellation disabled: no cancellation acts inside
  // it (one that is pending acts at the thread's next cancellation point
  // after the routine), since the routines other than the printers are no
  // cancellation points. The tracer must be quick, may call the routines,
  // must not wait for another thread that may be waiting for the mutex (it
  // holds it), nor for a stream that such a thread holds, and must stay
  // loaded while it is set. Null stops the calls. Never blocks. An
  // exception the tracer throws is caught and dropped, and said once on
  // standard error: it would otherwise cross a routine that has C linkage
  // and leave the waiting thread holding the level it was taking, with
  // every other thread waiting behind it.
  using ContentionTracer = void (*)(const char* message, const void* mutex, UInt64 waitNanos);
  static void SetStdLibMutexTracer(ContentionTracer tracer);

  // SetStdLibMutexStallMillis()
  //
  // A thread that has waited millis milliseconds for the standard-library
  // mutex writes one line on standard error, once per stall however many
  // threads wait: how long, how many threads wait, and the holder's
  // pthread_t. 0, the default, writes nothing. The line is written with
  // cancellation disabled. Never blocks.
  static void SetStdLibMutexStallMillis(UInt32 millis);

  // GetStdLibMutex()
  //
  // Returns the standard-library mutex. Never blocks, never fails.
  static OSMutex* GetStdLibMutex() OS_RETURN_CAPABILITY(sStdLibOSMutex) { return &sStdLibOSMutex; }

  // The standard-library mutex. Recursive, constant-initialised, never
  // destroyed, one per process however many copies of the library the
  // process holds (static in the executable and in plugins, shared).
  //
  // fork() waits for it: the forking thread takes it before the fork and
  // gives it back in parent and child, so the child starts with the mutex
  // free, or held only by the forking thread at the levels it had, and
  // with none of its parent's exit: a child forked while the parent exits
  // has a usable mutex, and one forked while the exit waits for the mutex
  // holds it at its own exit.
  //
  // On glibc (every version), exit() takes it for good once every exit
  // handler and destructor has run, the shared libraries' included, so
  // that no thread prints while the streams are flushed or after (glibc
  // before 2.41 flushes without the streams' locks; from 2.41 a print
  // begun after the flush goes out unbuffered in pieces, cut by the end of
  // the process). It waits for a print under way however long it takes (a
  // print blocked on a slow reader holds up the C library's own flush as
  // long), and at most half a second for a holder that is not printing.
  // The exiting thread keeps full use of the routines, and a destructor may
  // wait for a thread that prints. Once the hold has it (or has given up on
  // its holder), a routine called by another thread waits for it until
  // half a second later at most, and then makes its C library call without
  // it (a print prints nothing and returns -1: it would run into the final
  // flush), so that a thread that holds a stream, which the C library's
  // final flush needs, lets go of it. Lock() by host code still waits for
  // good. An exit handler registered with
  // __cxa_atexit(fn, arg, NULL) from a shared library's constructor runs
  // after the hold: one that waits for a thread that prints finds that
  // thread's prints held up by that half second.
  //
  // A thread that ends while it holds it (returns, pthread_exit(), or
  // cancelled without unwinding through a locker) has every level released
  // at its end, with one line on standard error.
  static OSMutex sStdLibOSMutex;
};

#endif  // OS_H
