// Beside consumer/plugin.cpp in the process tests' plugins: take one level
// of the standard-library mutex and keep it, as a thread that ends holding
// it does.
#include <SafeStdLib/OS.h>

extern "C" __attribute__((visibility("default"))) void PluginLock() OS_NO_THREAD_SAFETY_ANALYSIS {
  OS::GetStdLibMutex()->Lock();
}
