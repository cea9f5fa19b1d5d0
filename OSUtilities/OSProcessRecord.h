// OSProcessRecord.h: what the copies of the library in one process share
// beside the mutex itself.
//
// Private to the library; never installed. One record per process (see
// OSProcessUnique.h). The first copy to run its start-up claims the record
// and registers the process's fork and exit handlers and the thread-end key:
// it is the executable, the shared library loaded with it, or the first
// plugin loaded, whose definitions the dynamic linker binds every copy to
// and never unloads, so the handlers stay valid for the life of the process.
#ifndef OSProcessRecord_H
#define OSProcessRecord_H

#include <pthread.h>

#include "OSHeaders.h"

struct OSProcessRecord {
  int fClaimed;         // 1 once a copy has taken charge of the handlers
  int fThreadEndReady;  // 1 once fThreadEndKey is made; acquire / release
  pthread_key_t fThreadEndKey;
};

namespace OSPrivate {
SAFESTDLIB_API extern OSProcessRecord sProcess;
}

// The thread-end key's destructor: releases every level of the
// standard-library mutex that the ending thread still holds, and says so on
// standard error.
void OSReleaseForEndedThread(void*);

#endif  // OSProcessRecord_H
