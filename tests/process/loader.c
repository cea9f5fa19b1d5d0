/* A host that loads plugins holding copies of the library (dlopen,
 * RTLD_LOCAL). Built without a copy of its own, and with one (HostCopy.cpp).
 *   loader share <plugin.so> <plugin.so>  the executable (if it holds a copy)
 *       sets the output limit to 7K, or else the first plugin does; every
 *       copy must see it, share one running total and one mutex. Unloading
 *       the plugins leaves the mutex free, and where the executable holds
 *       no copy, the first plugin, in charge of the process, stays loaded
 *   loader unload <plugin.so> [fork]  a thread calls into the plugin, the
 *       plugin is unloaded, then the thread ends (and the process forks)
 *   loader keys <plugin.so>  the plugin is loaded once the process has no
 *       pthread key left, and must work; with one key given back,
 *       a thread that ends holding the mutex must have it released
 *   loader reuse <plugin.so> <tls.so>  a thread takes the mutex through the
 *       executable's copy and through the plugin, the plugin is unloaded
 *       and an object with initialised static TLS loaded, which may get the
 *       plugin's TLS space; then the thread ends
 *   loader apart <plugin.so>  the plugin's copy must keep a mutex of its own
 *   loader fork <plugin.so>  a thread converts through the plugin without a
 *       pause while the process forks 200 times; each child's first
 *       conversion there must end (a child that waits is killed by alarm())
 *   loader namespace <plugin.so>  the plugin is opened in a link-map
 *       namespace of its own (dlmopen) and must still work */
#define _GNU_SOURCE /* dlmopen */
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

/* Defined only where the executable holds a copy (HostCopy.cpp). */
extern void* HostStdLibMutex(void) __attribute__((weak));
extern void HostSetLimitInK(unsigned limitInK) __attribute__((weak));

struct Plugin {
  void* handle;
  void* (*mutex)(void);
  unsigned (*limit)(void);
  void (*setLimit)(unsigned);
  int (*maxprintf)(const char*);
  int (*couldLock)(void);
  void (*lock)(void);
  int (*convert)(void);
};

static int failures = 0;

static void Check(int ok, const char* what) {
  if (ok) return;
  ++failures;
  fprintf(stderr, "%s\n", what);
}

static int Open(const char* name, struct Plugin* p) {
  p->handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (p->handle == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 0;
  }
  /* POSIX's way to turn dlsym's result into a function pointer. */
  *(void**)&p->mutex = dlsym(p->handle, "PluginStdLibMutex");
  *(void**)&p->limit = dlsym(p->handle, "PluginLimitInK");
  *(void**)&p->setLimit = dlsym(p->handle, "PluginSetLimitInK");
  *(void**)&p->maxprintf = dlsym(p->handle, "PluginMaxprintf");
  *(void**)&p->couldLock = dlsym(p->handle, "PluginCouldLock");
  *(void**)&p->lock = dlsym(p->handle, "PluginLock");
  *(void**)&p->convert = dlsym(p->handle, "PluginConvert");
  return p->mutex && p->limit && p->setLimit && p->maxprintf && p->couldLock && p->lock &&
         p->convert;
}

static void* CouldLock(void* plugin) {
  return ((struct Plugin*)plugin)->couldLock() ? plugin : NULL;
}

static void* LockAndEnd(void* plugin) {
  ((struct Plugin*)plugin)->lock();
  return NULL;
}

/* Runs body(plugin) in a thread of its own, to its end. */
static void* InThread(void* (*body)(void*), struct Plugin* plugin) {
  pthread_t thread;
  void* result = NULL;
  if (pthread_create(&thread, NULL, body, plugin) != 0 || pthread_join(thread, &result) != 0)
    Check(0, "thread failed");
  return result;
}

static int Share(struct Plugin* a, struct Plugin* b, const char* nameOfA) {
  static char text[7 * 1024 + 2];
  if (HostSetLimitInK)
    HostSetLimitInK(7);
  else
    a->setLimit(7);
  Check(a->limit() == 7 && b->limit() == 7, "a copy has an output limit of its own");
  Check(a->mutex() == b->mutex() && (!HostStdLibMutex || HostStdLibMutex() == a->mutex()),
        "a copy has a mutex of its own");
  memset(text, 'x', sizeof text - 1);
  Check(a->maxprintf(text) == (int)sizeof text - 1 && b->maxprintf("y") == -1,
        "a copy has a running total of its own");
  Check(dlclose(b->handle) == 0 && InThread(CouldLock, a) != NULL,
        "unloading a plugin left the mutex taken");
  if (!HostStdLibMutex) {
    Check(dlclose(a->handle) == 0 && dlopen(nameOfA, RTLD_NOW | RTLD_NOLOAD) != NULL,
          "the plugin in charge of the process was unloaded");
    Check(InThread(CouldLock, a) != NULL, "unloading the plugin in charge left the mutex taken");
  }
  return failures == 0 ? 0 : 1;
}

static sem_t called, unloaded;

static void* CallThenWait(void* plugin) {
  Check(((struct Plugin*)plugin)->couldLock(), "the mutex is taken");
  sem_post(&called);
  sem_wait(&unloaded);
  return NULL;
}

static int Unload(struct Plugin* p, int thenFork) {
  pthread_t thread;
  int status = -1;
  sem_init(&called, 0, 0);
  sem_init(&unloaded, 0, 0);
  if (pthread_create(&thread, NULL, CallThenWait, p) != 0) return 2;
  sem_wait(&called);
  Check(dlclose(p->handle) == 0, "dlclose failed");
  sem_post(&unloaded);
  pthread_join(thread, NULL);
  if (thenFork) {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    Check(child > 0 && waitpid(child, &status, 0) == child && status == 0, "fork failed");
  }
  return failures == 0 ? 0 : 1;
}

static int Keys(const char* name) {
  pthread_key_t key, first;
  int made = 0;
  struct Plugin p;
  while (pthread_key_create(&key, NULL) == 0)
    if (made++ == 0) first = key;
  if (made == 0 || !Open(name, &p)) return 2;
  p.setLimit(5);
  Check(p.limit() == 5 && p.maxprintf("x") == 1 && InThread(CouldLock, &p) != NULL,
        "the plugin does not work without a key");
  pthread_key_delete(first);
  InThread(LockAndEnd, &p);
  Check(InThread(CouldLock, &p) != NULL, "a thread that ended holding the mutex keeps it");
  return failures == 0 ? 0 : 1;
}

static void* LockThroughHostAndPlugin(void* plugin) {
  HostSetLimitInK(((struct Plugin*)plugin)->limit());
  return CallThenWait(plugin);
}

static int Reuse(struct Plugin* p, const char* tls) {
  pthread_t thread;
  void* fill;
  int (*intact)(void);
  if (!HostSetLimitInK) return 2;
  sem_init(&called, 0, 0);
  sem_init(&unloaded, 0, 0);
  if (pthread_create(&thread, NULL, LockThroughHostAndPlugin, p) != 0) return 2;
  sem_wait(&called);
  Check(dlclose(p->handle) == 0, "dlclose failed");
  fill = dlopen(tls, RTLD_NOW | RTLD_LOCAL);
  *(void**)&intact = fill != NULL ? dlsym(fill, "TlsFillIntact") : NULL;
  Check(intact != NULL && intact(), "the TLS object did not load, or its TLS was written");
  sem_post(&unloaded);
  Check(pthread_join(thread, NULL) == 0, "join failed");
  return failures == 0 ? 0 : 1;
}

static int Apart(struct Plugin* p) {
  if (!HostSetLimitInK) return 2;
  HostSetLimitInK(7);
  Check(p->limit() == 100000, "the plugin shares a printer guarded by a mutex it does not take");
  Check(p->maxprintf("x") == 1 && InThread(CouldLock, p) != NULL, "the plugin does not work");
  return failures == 0 ? 0 : 1;
}

static int converting = 1, conversionFailed = 0; /* atomically */

static void* ConvertAgainAndAgain(void* plugin) {
  while (__atomic_load_n(&converting, __ATOMIC_RELAXED))
    if (!((struct Plugin*)plugin)->convert())
      __atomic_store_n(&conversionFailed, 1, __ATOMIC_RELAXED);
  return NULL;
}

static int ForkWhileConverting(struct Plugin* p) {
  pthread_t thread;
  int fork_number;
  if (pthread_create(&thread, NULL, ConvertAgainAndAgain, p) != 0) return 2;
  for (fork_number = 0; fork_number < 200 && failures == 0; ++fork_number) {
    int status = -1;
    const pid_t child = fork();
    if (child == 0) {
      alarm(10);
      _exit(p->convert() ? 0 : 1);
    }
    Check(child > 0 && waitpid(child, &status, 0) == child, "fork failed");
    Check(WIFEXITED(status) && WEXITSTATUS(status) == 0,
          "a child's first conversion through the plugin did not end");
  }
  __atomic_store_n(&converting, 0, __ATOMIC_RELAXED);
  pthread_join(thread, NULL);
  Check(!__atomic_load_n(&conversionFailed, __ATOMIC_RELAXED), "a conversion failed");
  return failures == 0 ? 0 : 1;
}

static int Namespace(const char* name) {
  unsigned (*limit)(void);
  void* handle = dlmopen(LM_ID_NEWLM, name, RTLD_NOW | RTLD_LOCAL);
  if (handle == NULL) {
    /* A C library whose static TLS has no room for another namespace's
     * copy of it refuses; nothing then runs apart. */
    fprintf(stderr, "SafeStdLib: not run: %s\n", dlerror());
    return 0;
  }
  *(void**)&limit = dlsym(handle, "PluginLimitInK");
  Check(limit != NULL && limit() == 100000, "the plugin does not work in a namespace of its own");
  return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  struct Plugin a, b;
  if (argc == 4 && strcmp(argv[1], "share") == 0)
    return Open(argv[2], &a) && Open(argv[3], &b) ? Share(&a, &b, argv[2]) : 2;
  if ((argc == 3 || argc == 4) && strcmp(argv[1], "unload") == 0)
    return Open(argv[2], &a) ? Unload(&a, argc == 4) : 2;
  if (argc == 3 && strcmp(argv[1], "keys") == 0) return Keys(argv[2]);
  if (argc == 4 && strcmp(argv[1], "reuse") == 0) return Open(argv[2], &a) ? Reuse(&a, argv[3]) : 2;
  if (argc == 3 && strcmp(argv[1], "apart") == 0) return Open(argv[2], &a) ? Apart(&a) : 2;
  if (argc == 3 && strcmp(argv[1], "fork") == 0)
    return Open(argv[2], &a) ? ForkWhileConverting(&a) : 2;
  if (argc == 3 && strcmp(argv[1], "namespace") == 0) return Namespace(argv[2]);
  return 2;
}
