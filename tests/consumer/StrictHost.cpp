// A C++ host that builds with a strict warning set, with and without
// _FORTIFY_SOURCE: every public header, through both include forms, the
// inline entries put to use, and every routine that writes a caller's
// buffer, with a size known to fit and with one that is not.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/OSHeaders.h>
#include <SafeStdLib/OSMutex.h>
#include <SafeStdLib/OSThreadAnnotations.h>
#include <SafeStdLib/SafeStdLib.h>
#include <SafeStdLib/SafeStdLibVersion.h>
#include <stdarg.h>

#include "SafeStdLib.h"

int StrictHost(size_t size, const char* fmt, ...);
int StrictHost(size_t size, const char* fmt, ...) {
  OSMutexLocker locker(OS::GetStdLibMutex());
  char text[16];
  const int len = static_cast<int>(size);
  const time_t when = 0;
  struct tm brokenDown;
  va_list args;
  zuvo_setmaxprintfcharsinK(zuvo_getmaxprintfcharsinK());
  int result = zuvo_snprintf(text, sizeof text, "%d", SAFESTDLIB_VERSION_MAJOR);
  result += zuvo_snprintf(text, size, "%d", SAFESTDLIB_VERSION_MAJOR);
  result += zuvo_sprintf(text, "%d", SAFESTDLIB_VERSION_MAJOR);
  va_start(args, fmt);
  result += zuvo_vsnprintf(text, size, fmt, args);
  va_end(args);
  va_start(args, fmt);
  result += zuvo_vsprintf(text, fmt, args);
  va_end(args);
  zuvo_gmtime(&when, &brokenDown);
  result += static_cast<int>(zuvo_strftime(text, size, "%Y", &brokenDown));
  zuvo_strerror(0, text, len);
  zuvo_ctime(&when, text, len);
  zuvo_asctime(&brokenDown, text, len);
  return result;
}
