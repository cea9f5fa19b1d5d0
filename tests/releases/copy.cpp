// copy.cpp: one copy of the library as the two-releases scenarios reach it.
// Compiled against one release's installed headers and linked with that
// release's library (static, or the shared one for a host), once with
// -DCOPY=Plugin into a plugin, where twocopies.c finds the functions with
// dlsym(), and once with -DCOPY=Host into a host executable, where it finds
// them through weak references. Each function goes through this copy's own
// code and its binding of the process-wide state: the mutex, the output
// limit and the routines.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>
#include <stddef.h>

#define COPY_NAME2(copy, name) copy##name
#define COPY_NAME(copy, name) COPY_NAME2(copy, name)
#define COPY_API(name) extern "C" __attribute__((visibility("default"))) auto COPY_NAME(COPY, name)

COPY_API(Mutex)()->void* { return OS::GetStdLibMutex(); }

COPY_API(LimitInK)()->unsigned { return zuvo_getmaxprintfcharsinK(); }

COPY_API(SetLimitInK)(unsigned limitInK)->void { zuvo_setmaxprintfcharsinK(limitInK); }

// zuvo_snprintf through this copy, with twocopies.c's one format.
COPY_API(Format)(char* out, size_t size, int thread, int call)->int {
  return zuvo_snprintf(out, size, "thread %d call %d: %08x %s %.3f", thread, call,
                       static_cast<unsigned>(thread * 7919 + call), "text", call / 8.0);
}
