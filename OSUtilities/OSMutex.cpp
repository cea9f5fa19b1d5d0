// OSMutex.cpp: the out-of-line paths of OSMutex.

#include "OSMutex.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void OSMutex::LockContended() {
  const int err = pthread_mutex_lock(&fMutex);
  if (OS_UNLIKELY(err != 0)) Fail("pthread_mutex_lock", err);
}

void OSMutex::Fail(const char* call, int err) {
  fprintf(stderr, "OSMutex: %s failed: %s\n", call, strerror(err));
  abort();
}
