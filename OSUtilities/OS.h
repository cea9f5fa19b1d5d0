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

class SAFESTDLIB_API OS {
 public:
  OS() = delete;

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
  // free, or held only by the forking thread at the levels it had.
  //
  // Where the C library flushes its streams at exit without their locks
  // (glibc before 2.41), exit() takes it for good once every exit handler
  // and destructor has run, the shared libraries' included, waiting at most
  // half a second for another holder, so that no thread prints while the
  // streams are flushed; the exiting thread keeps full use of the routines.
  // A destructor may so wait for a thread that prints.
  //
  // A thread that ends while it holds it (returns, pthread_exit(), or
  // cancelled without unwinding through a locker) has every level released
  // at its end, with one line on standard error.
  static OSMutex sStdLibOSMutex;
};

#endif  // OS_H
