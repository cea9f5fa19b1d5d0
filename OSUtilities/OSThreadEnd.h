// OSThreadEnd.h: how a thread that ends holding the standard-library mutex
// gives it back.
//
// Private to the library; never installed. One record per process (see
// OSProcessUnique.h): the pthread key whose destructor releases the mutex,
// made by the copy of the library that owns the mutex, which is never
// unloaded, so the destructor stays valid for the life of the process.
#ifndef OSThreadEnd_H
#define OSThreadEnd_H

#include <pthread.h>

#include "OSHeaders.h"

struct OSThreadEndRecord {
  pthread_key_t fKey;
  int fReady;  // 1 once fKey is made; read with acquire, written with release
};

namespace OSPrivate {
SAFESTDLIB_API extern OSThreadEndRecord sThreadEnd;
}

// The key's destructor: releases every level of the standard-library mutex
// that the ending thread still holds, and says so on standard error.
void OSReleaseForEndedThread(void*);

#endif  // OSThreadEnd_H
