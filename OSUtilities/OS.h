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
  // destroyed. fork() waits for it: the forking thread takes it before the
  // fork and gives it back in parent and child, so the child starts with the
  // mutex free, or held only by the forking thread at the levels it had.
  static OSMutex sStdLibOSMutex;
};

#endif  // OS_H
