// A server that holds a copy of the library and loads two plugins that hold
// copies of their own, the usual way (dlopen, RTLD_LOCAL). All copies must
// share one standard-library mutex and one capped printer.
//   plugin_host <plugin.so> <plugin.so>
//   plugin_host --hidden <plugin.so>   a plugin linked with the library's
//                                      symbols hidden keeps a mutex of its
//                                      own (and says so on standard error)
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>
#include <dlfcn.h>
#include <stdio.h>

#include <string>
#include <thread>

namespace {

int failures = 0;

void Check(bool ok, const char* what, const char* plugin) {
  if (ok) return;
  ++failures;
  fprintf(stderr, "%s: %s\n", plugin, what);
}

template <typename Fn>
Fn Symbol(void* plugin, const char* name) {
  return reinterpret_cast<Fn>(dlsym(plugin, name));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (std::string(argv[1]) == "--hidden") {
    void* plugin = dlopen(argv[2], RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) return 1;
    auto mutex = Symbol<OSMutex* (*)()>(plugin, "PluginStdLibMutex");
    return mutex != nullptr && mutex() != OS::GetStdLibMutex() ? 0 : 1;
  }
  zuvo_setmaxprintfcharsinK(0);
  if (zuvo_maxprintf("x") != 1) return 1;  // the total is now above the limit
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    void* plugin = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (plugin == nullptr) {
      fprintf(stderr, "%s\n", dlerror());
      return 1;
    }
    auto mutex = Symbol<OSMutex* (*)()>(plugin, "PluginStdLibMutex");
    auto limit = Symbol<UInt32 (*)()>(plugin, "PluginLimitInK");
    auto maxprintf = Symbol<int (*)(const char*)>(plugin, "PluginMaxprintf");
    auto couldLock = Symbol<int (*)()>(plugin, "PluginCouldLock");
    if (!mutex || !limit || !maxprintf || !couldLock) return 1;
    Check(mutex() == OS::GetStdLibMutex(), "uses a mutex of its own", name);
    Check(limit() == 0, "has an output limit of its own", name);
    Check(maxprintf("y") == -1, "has a running total of its own", name);
    {
      OSMutexLocker locker(OS::GetStdLibMutex());
      int locked = -1;
      std::thread([&] { locked = couldLock(); }).join();
      Check(locked == 0, "takes the mutex while the host holds it", name);
    }
  }
  if (failures == 0) printf("\none mutex\n");
  return failures == 0 ? 0 : 1;
}
