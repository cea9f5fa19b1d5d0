/* A C host that builds with a strict warning set. */
#include <SafeStdLib/SafeStdLib.h>

#include "SafeStdLib.h"

int StrictHost(void);
int StrictHost(void) {
  char text[16];
  return zuvo_snprintf(text, sizeof text, "%d", SAFESTDLIB_VERSION_MAJOR);
}
