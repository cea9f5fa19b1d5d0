// A C++ host: the capped printer, the locker, a structure copy and the
// version, through the prefixed include names.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/OSMutex.h>
#include <SafeStdLib/SafeStdLib.h>
#include <time.h>

int main() {
  const time_t epoch = 0;
  struct tm broken;
  if (zuvo_gmtime(&epoch, &broken) != &broken || broken.tm_year != 70) return 1;
  OSMutexLocker locker(OS::GetStdLibMutex());
  const int printed =
      zuvo_maxprintf("cxx host %u %d.%d.%d\n", zuvo_getmaxprintfcharsinK(),
                     SAFESTDLIB_VERSION_MAJOR, SAFESTDLIB_VERSION_MINOR, SAFESTDLIB_VERSION_PATCH);
  return printed > 0 ? 0 : 1;
}
