/* A host without a copy of the library that loads two plugins holding
 * copies of their own (dlopen, RTLD_LOCAL): the plugins must share one
 * standard-library mutex and one capped printer. Unloading them leaves the
 * mutex free, and the plugin that owns it stays loaded.
 *   plugin_loader <plugin.so> <plugin.so> */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>

typedef void* (*MutexFn)(void);
typedef unsigned (*LimitFn)(void);
typedef void (*SetLimitFn)(unsigned);
typedef int (*CouldLockFn)(void);

static void* Load(const char* name) {
  void* plugin = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (plugin == NULL) fprintf(stderr, "%s\n", dlerror());
  return plugin;
}

static void* CallCouldLock(void* fn) {
  static int result;
  result = (*(CouldLockFn*)fn)();
  return &result;
}

/* Whether a thread other than the caller could take the mutex now. */
static int FreeForOthers(CouldLockFn couldLock) {
  pthread_t thread;
  void* result = NULL;
  if (pthread_create(&thread, NULL, CallCouldLock, &couldLock) != 0) return 0;
  if (pthread_join(thread, &result) != 0) return 0;
  return *(int*)result;
}

int main(int argc, char** argv) {
  void* a;
  void* b;
  if (argc != 3 || (a = Load(argv[1])) == NULL || (b = Load(argv[2])) == NULL) return 2;
  MutexFn mutexA;
  MutexFn mutexB;
  SetLimitFn setLimitA;
  LimitFn limitB;
  CouldLockFn couldLockA;
  /* POSIX's way to turn dlsym's result into a function pointer. */
  *(void**)&mutexA = dlsym(a, "PluginStdLibMutex");
  *(void**)&mutexB = dlsym(b, "PluginStdLibMutex");
  *(void**)&setLimitA = dlsym(a, "PluginSetLimitInK");
  *(void**)&limitB = dlsym(b, "PluginLimitInK");
  *(void**)&couldLockA = dlsym(a, "PluginCouldLock");
  if (!mutexA || !mutexB || !setLimitA || !limitB || !couldLockA) return 2;
  if (mutexA() != mutexB()) {
    fprintf(stderr, "the plugins use two mutexes\n");
    return 1;
  }
  setLimitA(4242);
  if (limitB() != 4242) {
    fprintf(stderr, "the plugins use two capped printers\n");
    return 1;
  }
  if (dlclose(b) != 0 || !FreeForOthers(couldLockA)) {
    fprintf(stderr, "unloading a plugin left the mutex taken\n");
    return 1;
  }
  if (dlclose(a) != 0 || dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) == NULL ||
      !FreeForOthers(couldLockA)) {
    fprintf(stderr, "the plugin that owns the mutex was unloaded, or took it\n");
    return 1;
  }
  printf("one mutex\n");
  return 0;
}
