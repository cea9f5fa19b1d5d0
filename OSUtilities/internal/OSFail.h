// OSFail.h: the library's one way to fail loudly.
//
// Private to the library; never installed. A pthread or futex call that
// cannot fail on sound state, and did, ends the process here: the lock
// protocol's and the routines' own locks alike. Running out of a resource
// never comes here; it is said once and given up.
#ifndef OSFail_H
#define OSFail_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// OSFailed()
//
// Writes `SafeStdLib: <subject>: <call> failed: <reason>` on standard error,
// and aborts. Never returns.
[[noreturn]] __attribute__((noinline, cold)) inline void OSFailed(const char* subject,
                                                                  const char* call, int err) {
  fprintf(stderr, "SafeStdLib: %s: %s failed: %s\n", subject, call, strerror(err));
  abort();
}

#endif  // OSFail_H
