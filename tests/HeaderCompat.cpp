// Compiled as C++11: the public headers must not need anything newer.
#include "OS.h"
#include "OSHeaders.h"
#include "OSMutex.h"
#include "SafeStdLib.h"

static_assert(sizeof(UInt32) == 4, "UInt32 is 32 bits");
static_assert(sizeof(UInt64) == 8, "UInt64 is 64 bits");
static_assert(sizeof(Bool16) == 2, "Bool16 is 16 bits");

int main() {
  OSMutexLocker locker(OS::GetStdLibMutex());
  char text[8];
  return zuvo_snprintf(text, sizeof text, "%d", 0) == 1 ? 0 : 1;
}
