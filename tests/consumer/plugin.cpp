// A plugin that holds a copy of the library (linked statically) and
// reports what its copy sees. Loaded with RTLD_LOCAL by plugin_host and by
// the process tests' loader.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>

#define PLUGIN_API extern "C" __attribute__((visibility("default")))

PLUGIN_API OSMutex* PluginStdLibMutex() { return OS::GetStdLibMutex(); }

PLUGIN_API UInt32 PluginLimitInK() { return zuvo_getmaxprintfcharsinK(); }

PLUGIN_API void PluginSetLimitInK(UInt32 limitInK) { zuvo_setmaxprintfcharsinK(limitInK); }

PLUGIN_API int PluginMaxprintf(const char* text) { return zuvo_maxprintf("%s", text); }

// One conversion through this copy's routines: 1 when it gave the right text.
PLUGIN_API int PluginConvert() {
  char text[32];
  struct tm broken;
  const time_t when = 86400;
  return zuvo_gmtime(&when, &broken) != nullptr &&
         zuvo_snprintf(text, sizeof text, "%d", broken.tm_mday) == 1 && text[0] == '2';
}

// Whether this copy could take the mutex right now, from the calling thread.
PLUGIN_API int PluginCouldLock() OS_NO_THREAD_SAFETY_ANALYSIS {
  if (!OS::GetStdLibMutex()->TryLock()) return 0;
  OS::GetStdLibMutex()->Unlock();
  return 1;
}

// Takes one level of the mutex and keeps it, as a thread that ends holding
// it does.
PLUGIN_API void PluginLock() OS_NO_THREAD_SAFETY_ANALYSIS { OS::GetStdLibMutex()->Lock(); }
