// The executable's own copy of the library, for loader.c built as a host
// that holds one.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>

extern "C" void* HostStdLibMutex() { return OS::GetStdLibMutex(); }

extern "C" void HostSetLimitInK(unsigned limitInK) { zuvo_setmaxprintfcharsinK(limitInK); }
