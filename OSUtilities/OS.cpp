// OS.cpp: the standard-library mutex's part in the process's life: fork(),
// exit() and the end of a thread that holds it.
//
// Every copy of the library in the process runs OSJoinTheProcess(). The
// first takes charge (OSProcessRecord.h): there is one set of handlers and
// one thread-end key per process, and the copy that registered them keeps
// itself loaded, so none of them can outlive its code. Anything that
// cannot be arranged is given up and said once on standard error; nothing
// here aborts for want of a resource.

#include "OSUtilities/OS.h"

#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <time.h>

#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessRecord.h"
#include "OSUtilities/internal/OSProcessSymbols.h"

extern "C" int __cxa_atexit(void (*func)(void*), void* arg, void* dsoHandle);

namespace {

// How long the exit hold waits for another thread to let go of the mutex.
constexpr int kExitWaitMillis = 500;
// How often it tries.
constexpr int kExitTickMicros = 100;

// Whether this copy took charge of the process, and so registered what
// runs at fork, at exit and at each thread's end.
bool sInCharge = false;

// What a copy that cannot share keeps instead: a mutex that only its own
// routines take, and contention figures of its own.
OSMutex sOwnMutex;
OSProcessWaits sOwnWaits = {};
OSProcessExit sOwnExit = {};

// The rounds of key destructors the C library has run for the ending
// thread. Read only by the copy in charge, which is never unloaded.
__thread unsigned char sEndRounds __attribute__((tls_model("initial-exec"))) = 0;

// The forking thread holds the mutex across fork(), so no other thread can
// be inside the C library on its behalf when the child is made, and the
// child inherits a mutex whose only holder is the thread that exists there.
void LockBeforeFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Lock(); }
void UnlockAfterFork() OS_NO_THREAD_SAFETY_ANALYSIS { OS::sStdLibOSMutex.Unlock(); }

// The object that holds this copy: the executable, the shared library or a
// plugin. Null where the dynamic linker does not know it (a fully static
// executable).
struct link_map* ThisCopy() {
#if OS_GLIBC
  Dl_info info;
  void* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ThisCopy), &info, &map, RTLD_DL_LINKMAP) == 0)
    return nullptr;
  return static_cast<struct link_map*>(map);
#else
  return nullptr;  // musl never unloads a library, and binds every copy alike
#endif
}

const char* NameOf(const struct link_map* copy) {
  return copy != nullptr && copy->l_name != nullptr && copy->l_name[0] != '\0' ? copy->l_name
                                                                               : "the executable";
}

bool IsExecutable(const struct link_map* copy) {
  return copy == nullptr || copy->l_name == nullptr || copy->l_name[0] == '\0';
}

// A handle on this copy's object for dlsym(), which searches its scope the
// way the dynamic linker searched it for the copy's own references. Null
// where there is none.
void* OpenThisCopy(const struct link_map* copy) {
  if (copy == nullptr) return nullptr;
  return dlopen(IsExecutable(copy) ? nullptr : copy->l_name, RTLD_LAZY | RTLD_NOLOAD);
}

// Makes sure that this copy is never unloaded, so that the handlers and the
// key destructor it registers stay valid for the life of the process. The
// executable and a fully static program never are.
bool KeepLoaded(const struct link_map* copy) {
  if (IsExecutable(copy)) return true;
  return dlopen(copy->l_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

// Whether the C library's flush at exit leaves no room for a print: musl
// takes each stream's lock as it flushes and keeps it, so a print either
// ends before the flush or never begins. glibc does not, on any version:
// before 2.41 it flushes and unbuffers its streams without their locks, so
// a print that another thread is making then is torn or written twice;
// from 2.41 it takes each lock only while it flushes that stream and
// leaves it unbuffered, so a print that begins after the flush goes out in
// pieces of its own buffer's size and is cut where the process ends
// (libio/genops.c, _IO_cleanup and _IO_unbuffer_all: without the locks in
// glibc 2.31 to 2.40, with each lock for its own stream from 2.41; musl's
// src/stdio/__stdio_exit.c, which keeps them).
bool ExitFlushKeepsStreamsLocked() {
#if OS_MUSL
  return true;
#else
  return false;
#endif
}

// Runs after every exit handler and every destructor, the shared
// libraries' included, just before the C library flushes its streams.
// From here on the exiting thread holds the mutex for good, so no thread
// that prints through the routines is inside the C library during the
// flush or after it; the mutex is recursive, so the exiting thread itself
// keeps full use of them. A print under way is waited for however long it
// takes: one blocked on a slow reader holds the exit up no longer than the
// C library's own flush would, which writes to the same reader. A holder
// that is not printing is waited for kExitWaitMillis in all, and then does
// not stop the exit (the time between two tries counts as the holder's
// state at the first). While it waits, a printer that takes the mutex lets
// it go again (InternalStdLib.cpp), so threads that print without a pause
// cannot keep it from the exit.
UInt64 NowNanos() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<UInt64>(now.tv_sec) * 1000000000 + static_cast<UInt64>(now.tv_nsec);
}

void HoldAtExit(void*) OS_NO_THREAD_SAFETY_ANALYSIS {
  OSProcessExit& printers = *OSPrivate::sView.fExit;
  const struct timespec tick = {0, kExitTickMicros * 1000};
  const UInt64 bound = static_cast<UInt64>(kExitWaitMillis) * 1000 * 1000;
  __atomic_store_n(&printers.fExitWaiting, 1, __ATOMIC_RELAXED);
  UInt64 waited = 0;  // while the holder was not printing
  for (UInt64 last = NowNanos(); !OS::sStdLibOSMutex.TryLock();) {
    const bool printing = __atomic_load_n(&printers.fPrinting, __ATOMIC_RELAXED) != 0;
    nanosleep(&tick, nullptr);
    const UInt64 now = NowNanos();
    if (!printing) waited += now - last;
    last = now;
    if (waited >= bound) break;
  }
  __atomic_store_n(&printers.fExitWaiting, 0, __ATOMIC_RELAXED);
}

void Say(const char* what, const struct link_map* copy) {
  fprintf(stderr, "SafeStdLib: %s %s\n", NameOf(copy), what);
}

// The names under which the process-wide definitions are bound, each with
// the definition this copy's code uses and what a copy without it loses.
struct ProcessWide {
  const char* fName;
  const void* fUsed;
  const char* fLoss;
};
const ProcessWide kProcessWide[] = {
    {OS_STDLIB_MUTEX_SYMBOL, &OS::sStdLibOSMutex,
     "uses a standard-library mutex of its own, not the process's: its copy of the library was "
     "linked with OS::sStdLibOSMutex hidden or bound to itself"},
    {OS_PROCESS_RECORD_SYMBOL, &OSPrivate::sProcess,
     "keeps a process record of its own: its copy of the library was linked with the record "
     "hidden or bound to itself"},
};

// Asks the dynamic linker for every process-wide definition, which binds
// the first one it finds for good, before any plugin with a copy of its own
// can be loaded (one linked with -Bsymbolic would otherwise bind its own).
// Then checks that this copy uses what the dynamic linker gives it; says
// what it does not. Returns whether the mutex is the process's.
bool JoinOne(const struct link_map* copy, const char* name, const void* used, const char* loss) {
  void* const self = OpenThisCopy(copy);
  void* const global = dlsym(RTLD_DEFAULT, name);
  void* const bound = self != nullptr ? dlsym(self, name) : nullptr;
  if (self != nullptr) dlclose(self);
  void* const process = bound != nullptr ? bound : global;
  if (process == nullptr || process == used) return true;
  Say(loss, copy);
  return false;
}

bool JoinProcessWide(const struct link_map* copy) {
  bool mutexShared = true;
  for (const ProcessWide& wide : kProcessWide)
    if (!JoinOne(copy, wide.fName, wide.fUsed, wide.fLoss) && wide.fUsed == &OS::sStdLibOSMutex)
      mutexShared = false;
  return mutexShared;
}

// Whether the process's executable was linked fully static: then its C
// library and the one of any object it loads are two, each with its own
// dynamic linker, and nothing binds across them.
bool ExecutableIsStatic() {
  const auto* const headers = reinterpret_cast<const ElfW(Phdr)*>(getauxval(AT_PHDR));
  const unsigned long count = getauxval(AT_PHNUM);
  if (headers == nullptr) return false;
  for (unsigned long i = 0; i < count; ++i)
    if (headers[i].p_type == PT_INTERP) return false;
  return true;
}

// A copy that the process's other copies cannot reach says so once: one in
// a link-map namespace of its own (dlmopen), and one loaded by a fully
// static executable. Each has a C library, streams and a mutex of its own.
void SayIfApart(const struct link_map* copy) {
  if (IsExecutable(copy)) return;
#if OS_GLIBC
  void* const self = OpenThisCopy(copy);
  Lmid_t space = LM_ID_BASE;
  const bool known = self != nullptr && dlinfo(self, RTLD_DI_LMID, &space) == 0;
  if (self != nullptr) dlclose(self);
  if (known && space != LM_ID_BASE) {
    fprintf(stderr,
            "SafeStdLib: %s is in link-map namespace %ld: it keeps a standard-library mutex of "
            "its own, apart from the process's\n",
            NameOf(copy), static_cast<long>(space));
    return;
  }
#endif
  if (ExecutableIsStatic())
    Say("is loaded into a fully static executable: it keeps a standard-library mutex of its own, "
        "apart from the executable's",
        copy);
}

// What the dynamic linker knows of the definition that this copy's
// reference `used` reaches: its size, and the object that holds it.
struct Binding {
  bool fKnown;
  size_t fSize;
  const char* fOwner;
};
Binding BindingOf(const void* used) {
#if OS_GLIBC
  Dl_info info;
  void* entry = nullptr;
  if (dladdr1(used, &info, &entry, RTLD_DL_SYMENT) != 0 && entry != nullptr &&
      info.dli_saddr == used)
    return {
        true, static_cast<size_t>(static_cast<const ElfW(Sym)*>(entry)->st_size),
        info.dli_fname != nullptr && info.dli_fname[0] != '\0' ? info.dli_fname : "the executable"};
#else
  (void)used;
#endif
  return {false, 0, "this copy"};
}

// The layout of the process record this copy is bound to, from its size:
// 0 when it is smaller than any release's. A definition the dynamic linker
// cannot describe is this copy's own.
UInt32 RecordLayout(const Binding& record) {
  if (!record.fKnown) return kOSProcessLayout;
  const OSProcessInterface& interface = OSPrivate::sProcess.fInterface;
  if (record.fSize >= sizeof(OSProcessRecord) && interface.fSize == record.fSize &&
      interface.fLayout >= kOSProcessLayout)
    return interface.fLayout;
  if (record.fSize >= kOSProcessLayout2Size) return 2;
  return record.fSize >= kOSProcessLayout1Size ? 1 : 0;
}

// Whether this copy may lock the mutex it is bound to: one of the same
// size, locked the same way. Every release before layout 3 locks it as
// this one does.
bool MutexAgrees(UInt32 layout) {
  const Binding mutex = BindingOf(&OS::sStdLibOSMutex);
  if (mutex.fKnown && mutex.fSize != sizeof(OSMutex)) return false;
  if (layout < 3) return layout != 0;
  const OSProcessInterface& interface = OSPrivate::sProcess.fInterface;
  return interface.fMutexProtocol == kOSMutexProtocol && interface.fMutexSize == sizeof(OSMutex);
}

// Makes the process's thread-end key, once; called at a first level
// through OSProcessRecord::fMakeThreadEndKey, in any copy. A key that the C
// library refuses (the process has used them all) is tried again at every
// later first level, a scan of the C library's key table, and the loss is
// said once.
bool MakeThreadEndKey() {
  static bool sSaid = false;
  OSProcessCore& process = OSPrivate::sProcess.fCore;
  int state = 0;
  if (!__atomic_compare_exchange_n(&process.fThreadEndState, &state, 1, false, __ATOMIC_ACQUIRE,
                                   __ATOMIC_ACQUIRE))
    return state == 2;
  const int err = pthread_key_create(&process.fThreadEndKey, OSReleaseForEndedThread);
  if (err != 0 && !sSaid) {
    sSaid = true;
    fprintf(stderr,
            "SafeStdLib: no thread-specific key (%s): a thread that ends holding the "
            "standard-library mutex keeps it until a key can be made\n",
            strerror(err));
  }
  __atomic_store_n(&process.fThreadEndState, err == 0 ? 2 : 0, __ATOMIC_RELEASE);
  return err == 0;
}

}  // namespace

OSProcessView OSPrivate::sView = {&OS::sStdLibOSMutex, nullptr, &sOwnWaits, &sOwnExit,
                                  kOSThreadEndChain};

// A thread that returns, calls pthread_exit() or is cancelled without
// unwinding through a locker (host code built without exceptions) while it
// holds the mutex would keep it for good, and the C library may give its
// pthread_t to the next thread, which would then be taken for the holder.
//
// The value is never followed: a copy of an earlier release may have put a
// link there that lives in its static TLS, and that copy may since have
// been unloaded and its TLS given to another object. Instead the value is
// set again for the C library's next round of destructors, so that a level
// taken in a key destructor that runs after this one is released too, up to
// the round before the last.
void OSReleaseForEndedThread(void*) {
  const UInt32 levels = OSMutexProtocol::ReleaseForEndedThread(OS::sStdLibOSMutex);
  if (levels != 0)
    fprintf(stderr,
            "SafeStdLib: a thread ended holding the standard-library mutex; its %u level(s) "
            "are released\n",
            levels);
  // Not into the C library's last round: the sanitizers' runtimes tear a
  // thread's own state down there, and this destructor, run after theirs,
  // would touch it. A failure leaves a level taken later held until the
  // thread's end, as without the key; nothing else depends on it.
  if (++sEndRounds < PTHREAD_DESTRUCTOR_ITERATIONS - 1)
    (void)pthread_setspecific(OSPrivate::sProcess.fCore.fThreadEndKey, OSThreadEndArmed());
}

namespace {

// A child starts with one thread: none waits, and no stall is reported.
void ResetWaitsInChild() {
  OSProcessWaits& waits = *OSPrivate::sView.fWaits;
  __atomic_store_n(&waits.fWaiters, 0, __ATOMIC_RELAXED);
  __atomic_store_n(&waits.fStallReported, pthread_t(), __ATOMIC_RELAXED);
}

void UnlockInChild() {
  ResetWaitsInChild();
  UnlockAfterFork();
}

// The thread-end protocol that this copy must follow, and whether it must
// then stay loaded: under the earlier releases' chain its link must live as
// long as the thread.
UInt32 ThreadEndProtocol(UInt32 layout) {
  if (layout < 3) return kOSThreadEndChain;
  return __atomic_load_n(&OSPrivate::sProcess.fInterface.fThreadEnd, __ATOMIC_ACQUIRE);
}

}  // namespace

// Runs before ordinary static constructors, so that a fork made by one of
// them is already covered. Chooses what this copy shares (OSProcessView):
// nothing but what it can check it agrees on.
__attribute__((constructor(101))) void OSJoinTheProcess() {
  const struct link_map* const copy = ThisCopy();
  SayIfApart(copy);
  // A copy with a mutex of its own leaves the process's handlers alone;
  // of the others, the first to start takes charge of them.
  if (!JoinProcessWide(copy)) return;
  OSProcessView& view = OSPrivate::sView;
  const Binding record = BindingOf(&OSPrivate::sProcess);
  const UInt32 layout = RecordLayout(record);
  if (!MutexAgrees(layout)) {
    view.fMutex = &sOwnMutex;
    fprintf(stderr,
            "SafeStdLib: %s keeps a standard-library mutex of its own: the process's, in %s, is "
            "locked another way\n",
            NameOf(copy), BindingOf(&OS::sStdLibOSMutex).fOwner);
    return;
  }
  view.fCore = &OSPrivate::sProcess.fCore;
  // An earlier release's exit hold reads no mark; this copy's marks then
  // go unread.
  if (layout >= 3) view.fExit = &OSPrivate::sProcess.fExit;
  if (layout >= 2) {
    view.fWaits = &OSPrivate::sProcess.fWaits;
  } else {
    fprintf(stderr,
            "SafeStdLib: %s counts its waits for the standard-library mutex apart: the process "
            "record in %s is an earlier release's, without contention figures\n",
            NameOf(copy), record.fOwner);
    if (pthread_atfork(nullptr, nullptr, ResetWaitsInChild) != 0)
      Say("cannot reset its waits in a child: a child's first stall may go unsaid", copy);
  }
  if (__atomic_exchange_n(&OSPrivate::sProcess.fCore.fClaimed, 1, __ATOMIC_ACQ_REL) != 0) {
    view.fThreadEnd = ThreadEndProtocol(layout);
    if (view.fThreadEnd != kOSThreadEndChain || IsExecutable(copy)) return;
    if (KeepLoaded(copy)) {
      fprintf(stderr,
              "SafeStdLib: %s stays loaded for the life of the process: it shares the process "
              "with a copy of an earlier release, whose thread-end release keeps a pointer into "
              "every copy a thread locks through\n",
              NameOf(copy));
    } else {
      view.fCore = nullptr;
      Say("cannot be kept loaded: a thread that ends holding the mutex through it keeps it", copy);
    }
    return;
  }
  if (!KeepLoaded(copy)) {
    Say("cannot be kept loaded: no fork handlers, exit hold or thread-end release", copy);
    view.fCore = nullptr;
    return;
  }
  sInCharge = true;
  // Copies that start later follow this copy's protocol; the earlier
  // releases' copies chain links that this copy never follows.
  if (layout >= 3) {
    __atomic_store_n(&OSPrivate::sProcess.fInterface.fThreadEnd, kOSThreadEndUnlinked,
                     __ATOMIC_RELEASE);
    view.fThreadEnd = kOSThreadEndUnlinked;
  }
  __atomic_store_n(&OSPrivate::sProcess.fCore.fMakeThreadEndKey, &MakeThreadEndKey,
                   __ATOMIC_RELEASE);
  MakeThreadEndKey();
  const int err = pthread_atfork(LockBeforeFork, UnlockAfterFork, UnlockInChild);
  if (err != 0)
    Say("cannot register its fork handlers: a child may start with the mutex held", copy);
}

// Runs in the copy in charge, which is never unloaded, so only while the
// process exits: from the dynamic linker's finalisation, after the
// process's own exit handlers. A handler registered here runs once all the
// destructors have run, the shared libraries' included, so that none of
// them can wait for a thread that waits for the exit hold.
__attribute__((destructor(101))) static void OSArrangeExitHold() {
  if (!sInCharge || ExitFlushKeepsStreamsLocked()) return;
  if (__cxa_atexit(HoldAtExit, nullptr, nullptr) != 0)
    Say("cannot hold the mutex at exit: a print may be torn by the final flush", ThisCopy());
}

bool OSJoinProcessWide(const char* name, const void* used, const char* loss) {
  return JoinOne(ThisCopy(), name, used, loss);
}

bool OSMayShare(const void* used, size_t needed, const char* what) {
  const Binding binding = BindingOf(used);
  if (OSPrivate::sView.fMutex == &OS::sStdLibOSMutex &&
      (!binding.fKnown || binding.fSize >= needed))
    return true;
  fprintf(stderr, "SafeStdLib: %s keeps %s of its own: the process's, in %s, %s\n",
          NameOf(ThisCopy()), what, binding.fOwner,
          binding.fKnown && binding.fSize < needed ? "is of another layout"
                                                   : "is guarded by another mutex");
  return false;
}

OSMutexContention OS::GetStdLibMutexContention() {
  OSMutexLocker locker(OSPrivate::sView.fMutex);
  const OSProcessWaits& waits = *OSPrivate::sView.fWaits;
  return OSMutexContention{waits.fContendedLocks, waits.fWaitNanos, waits.fLongestWaitNanos,
                           waits.fKernelWaits};
}

void OS::SetStdLibMutexTracer(ContentionTracer tracer) {
  __atomic_store_n(&OSPrivate::sView.fWaits->fTracer, tracer, __ATOMIC_RELEASE);
}

void OS::SetStdLibMutexStallMillis(UInt32 millis) {
  __atomic_store_n(&OSPrivate::sView.fWaits->fStallMillis, millis, __ATOMIC_RELAXED);
}
