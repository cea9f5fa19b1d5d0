// A C++ host: the capped printer, the locker and a structure copy.
#include <time.h>

#include "OS.h"
#include "OSMutex.h"
#include "SafeStdLib.h"

int main() {
  const time_t epoch = 0;
  struct tm broken;
  if (zuvo_gmtime(&epoch, &broken) != &broken || broken.tm_year != 70) return 1;
  OSMutexLocker locker(OS::GetStdLibMutex());
  return zuvo_maxprintf("cxx host %u\n", zuvo_getmaxprintfcharsinK()) == 16 ? 0 : 1;
}
