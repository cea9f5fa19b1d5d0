/* twocopies.c: the driver of the two-releases scenarios (.ci/two-releases),
 * built once without a copy of the library (a plain loader) and once per
 * release with copy.cpp as the executable's own copy, linked statically or
 * with the shared library. The copies it reaches are two, each perhaps of
 * another release: the executable's and a plugin's, or two plugins'.
 *   twocopies share <calls> <plugin.so> [<plugin.so>]  the first copy is the
 *       executable's (if it holds one) or the first plugin's, the second
 *       the next plugin's. Both must give one mutex and one output limit; 4
 *       threads make <calls> zuvo_snprintf calls each through the second
 *       copy while the main thread makes as many through the first, every
 *       result checked; halfway, one thread forks, and the child must call
 *       through both copies and exit 0.
 *   twocopies unload <plugin.so> <tlsfill.so>  a thread calls through the
 *       executable's copy and through the plugin's, so that each arranges
 *       its release at the thread's end, and waits; the plugin is unloaded
 *       (or stays, if it must), tlsfill.so is loaded, its initial-exec
 *       thread-local is read, and then the thread ends.
 * Prints what held, one line each, on standard output; what failed on
 * standard error, with exit status 1 (2 for a bad command). */
#include <dlfcn.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

/* Defined where the executable holds a copy (copy.cpp, -DCOPY=Host). */
extern void* HostMutex(void) __attribute__((weak));
extern unsigned HostLimitInK(void) __attribute__((weak));
extern void HostSetLimitInK(unsigned limitInK) __attribute__((weak));
extern int HostFormat(char* out, size_t size, int thread, int call) __attribute__((weak));

struct Copy {
  void* handle; /* null for the executable's */
  void* (*mutex)(void);
  unsigned (*limit)(void);
  void (*setLimit)(unsigned);
  int (*format)(char*, size_t, int, int);
};

enum { kThreads = 4 };
static int failures = 0;
static int calls = 0;
static struct Copy first, second;

static void Fail(const char* what) {
  __atomic_add_fetch(&failures, 1, __ATOMIC_RELAXED);
  fprintf(stderr, "%s\n", what);
}

static int HostCopy(struct Copy* c) {
  c->handle = NULL;
  c->mutex = HostMutex;
  c->limit = HostLimitInK;
  c->setLimit = HostSetLimitInK;
  c->format = HostFormat;
  return HostMutex != NULL;
}

static int Open(const char* name, struct Copy* c) {
  c->handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (c->handle == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 0;
  }
  /* POSIX's way to turn dlsym's result into a function pointer. */
  *(void**)&c->mutex = dlsym(c->handle, "PluginMutex");
  *(void**)&c->limit = dlsym(c->handle, "PluginLimitInK");
  *(void**)&c->setLimit = dlsym(c->handle, "PluginSetLimitInK");
  *(void**)&c->format = dlsym(c->handle, "PluginFormat");
  return c->mutex && c->limit && c->setLimit && c->format;
}

/* One call through c, checked against the C library's own snprintf. */
static int Call(const struct Copy* c, int thread, int call) {
  char got[128], want[128];
  const int n = c->format(got, sizeof got, thread, call);
  const int m = snprintf(want, sizeof want, "thread %d call %d: %08x %s %.3f", thread, call,
                         (unsigned)(thread * 7919 + call), "text", call / 8.0);
  return n == m && strcmp(got, want) == 0;
}

/* The child of a fork: a few calls through each copy. */
static int ChildCalls(void) {
  for (int i = 0; i < 100; ++i)
    if (!Call(&first, 9, i) || !Call(&second, 9, i)) return 1;
  return 0;
}

static void* Calls(void* arg) {
  const int thread = (int)(size_t)arg;
  const struct Copy* c = thread == 0 ? &first : &second;
  for (int i = 0; i < calls; ++i) {
    if (!Call(c, thread, i)) {
      Fail("a result is wrong");
      break;
    }
    if (thread == 1 && i == calls / 2) {
      int status = -1;
      const pid_t child = fork();
      if (child == 0) _exit(ChildCalls());
      if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
          WEXITSTATUS(status) != 0)
        Fail("the child of a fork failed");
    }
  }
  return NULL;
}

static int Share(void) {
  pthread_t threads[kThreads];
  const unsigned limit = first.limit();
  if (first.mutex() == second.mutex())
    printf("one mutex\n");
  else
    Fail("the two copies have two mutexes");
  first.setLimit(limit + 3);
  const int secondSees = second.limit() == limit + 3;
  second.setLimit(limit + 5);
  if (secondSees && first.limit() == limit + 5)
    printf("one output limit\n");
  else
    Fail("a copy has an output limit of its own");
  first.setLimit(limit);
  /* Nothing buffered that the child of the fork could write again. */
  fflush(stdout);
  /* Thread 0 is the main thread, on the first copy; 1 to 4 on the second. */
  for (int t = 1; t <= kThreads; ++t)
    if (pthread_create(&threads[t - 1], NULL, Calls, (void*)(size_t)t) != 0) return 2;
  Calls((void*)0);
  for (int t = 0; t < kThreads; ++t)
    if (pthread_join(threads[t], NULL) != 0) Fail("pthread_join failed");
  if (failures == 0)
    printf("%d threads: every result right, the child of a fork exited 0\n", kThreads + 1);
  return failures == 0 ? 0 : 1;
}

static sem_t called, loaded;

static void* CallThenWait(void* unused) {
  (void)unused;
  if (!Call(&first, 1, 0) || !Call(&second, 1, 1)) Fail("a result is wrong");
  if (sem_post(&called) != 0) Fail("sem_post failed");
  while (sem_wait(&loaded) != 0) continue; /* EINTR */
  return NULL;
}

static int Unload(const char* plugin, const char* fillName) {
  pthread_t thread;
  if (sem_init(&called, 0, 0) != 0 || sem_init(&loaded, 0, 0) != 0 ||
      pthread_create(&thread, NULL, CallThenWait, NULL) != 0)
    return 2;
  while (sem_wait(&called) != 0) continue; /* EINTR */
  if (dlclose(second.handle) != 0) Fail("dlclose failed");
  void* still = dlopen(plugin, RTLD_NOW | RTLD_NOLOAD);
  printf("%s\n", still != NULL ? "the plugin stayed loaded" : "the plugin was unloaded");
  if (still != NULL) dlclose(still);
  void* fill = dlopen(fillName, RTLD_NOW | RTLD_LOCAL);
  int (*intact)(void) = NULL;
  if (fill != NULL) *(void**)&intact = dlsym(fill, "TlsFillIntact");
  if (intact != NULL && intact())
    printf("the next plugin's thread-local is intact\n");
  else
    Fail(fill == NULL ? dlerror() : "the next plugin's thread-local is not as initialised");
  fflush(stdout);
  if (sem_post(&loaded) != 0 || pthread_join(thread, NULL) != 0) return 2;
  printf("the thread ended\n");
  return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if ((argc == 4 || argc == 5) && strcmp(argv[1], "share") == 0) {
    calls = atoi(argv[2]);
    if (HostCopy(&first) ? argc != 4 || !Open(argv[3], &second)
                         : argc != 5 || !Open(argv[3], &first) || !Open(argv[4], &second))
      return 2;
    return Share();
  }
  if (argc == 4 && strcmp(argv[1], "unload") == 0)
    return HostCopy(&first) && Open(argv[2], &second) ? Unload(argv[2], argv[3]) : 2;
  fprintf(stderr,
          "usage: twocopies share <calls> <plugin.so> [<plugin.so>]\n"
          "       twocopies unload <plugin.so> <tlsfill.so>\n");
  return 2;
}
