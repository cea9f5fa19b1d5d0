// A C++ host that builds with a strict warning set: every public header,
// through both include forms, and the inline entries put to use.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/OSHeaders.h>
#include <SafeStdLib/OSMutex.h>
#include <SafeStdLib/OSThreadAnnotations.h>
#include <SafeStdLib/SafeStdLib.h>
#include <SafeStdLib/SafeStdLibVersion.h>

#include "SafeStdLib.h"

int StrictHost() {
  OSMutexLocker locker(OS::GetStdLibMutex());
  char text[16];
  zuvo_setmaxprintfcharsinK(zuvo_getmaxprintfcharsinK());
  return zuvo_snprintf(text, sizeof text, "%d", SAFESTDLIB_VERSION_MAJOR);
}
