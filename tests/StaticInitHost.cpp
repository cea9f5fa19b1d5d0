// A host translation unit whose static constructor uses the library before
// main(), and whose exit handlers use it while the process ends. It is linked
// ahead of the library, so its constructor runs before any dynamic
// initialiser the library might have.

#include "StaticInitHost.h"

#include <stdio.h>
#include <stdlib.h>

#include "OS.h"
#include "SafeStdLib.h"

StaticInitRecord gStaticInitRecord;
bool gUseAtExit = false;

namespace {

void UseLibraryAtExit() {
  if (!gUseAtExit) return;
  char text[32];
  zuvo_snprintf(text, sizeof text, "exit %d", 7);
  zuvo_printf("%s|", text);
  zuvo_maxprintf("capped at exit|");
  fflush(stdout);
}

// Destroyed after the exit handler registered below has run, and after
// every static object constructed later than it.
struct UsesLibraryInDestructor {
  ~UsesLibraryInDestructor() {
    if (!gUseAtExit) return;
    zuvo_printf("destructor %u|", zuvo_getmaxprintfcharsinK());
    fflush(stdout);
  }
};

struct UsesLibraryInConstructor {
  UsesLibraryInConstructor() OS_NO_THREAD_SAFETY_ANALYSIS {
    gStaticInitRecord.maxCharsInK = zuvo_getmaxprintfcharsinK();
    gStaticInitRecord.snprintfResult =
        zuvo_snprintf(gStaticInitRecord.text, sizeof gStaticInitRecord.text, "before %s", "main");
    // Left held on purpose: main() finds this level unless something reset
    // the mutex after this constructor ran.
    OS::GetStdLibMutex()->Lock();
    atexit(UseLibraryAtExit);
  }
};

UsesLibraryInDestructor sLateUser;
UsesLibraryInConstructor sEarlyUser;

}  // namespace
