// OSProcessJoin.cpp: each copy of the library joins the process it is
// loaded into, at start-up: it chooses what it shares with the process's
// other copies (OSProcessView), and the first to start takes charge of the
// process's fork handlers (OSForkGuard.cpp), exit hold (OSExitHold.cpp) and
// thread-end key (OSThreadEnd.cpp).
//
// Every copy in the process runs OSJoinTheProcess(). The first takes
// charge (OSProcessRecord.h): there is one set of handlers and one
// thread-end key per process, and the copy that registered them keeps
// itself loaded, so none of them can outlive its code. Anything that
// cannot be arranged is given up and said once on standard error; nothing
// here aborts for want of a resource.

#include "OSUtilities/internal/OSProcessJoin.h"

#include <dlfcn.h>
#include <link.h>
#include <stdio.h>
#include <sys/auxv.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSExitHold.h"
#include "OSUtilities/internal/OSForkGuard.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "OSUtilities/internal/OSProcessRecord.h"
#include "OSUtilities/internal/OSProcessSymbols.h"
#include "OSUtilities/internal/OSThreadEnd.h"

namespace {

// What a copy that cannot share keeps instead: a mutex that only its own
// routines take, and contention figures of its own.
OSMutex sOwnMutex;
OSProcessWaits sOwnWaits = {};
OSProcessExit sOwnExit = {};

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
// static executable. Each has a C library, streams and a mutex of its own,
// and its fork handlers are its own C library's: a fork() made through the
// process's C library runs none of them, so a child may inherit that mutex
// taken by a thread it does not have.
const char kApartForkRisk[] =
    ": a child that the process forks while a thread calls through it may wait for ever in its "
    "first call there";

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
            "its own, apart from the process's%s\n",
            NameOf(copy), static_cast<long>(space), kApartForkRisk);
    return;
  }
#endif
  if (ExecutableIsStatic())
    fprintf(stderr,
            "SafeStdLib: %s is loaded into a fully static executable: it keeps a standard-library "
            "mutex of its own, apart from the executable's%s\n",
            NameOf(copy), kApartForkRisk);
}

// A copy that keeps a mutex of its own guards it across fork() as the copy
// in charge guards the process's (OSForkGuard.cpp).
void GuardOwnMutex(const struct link_map* copy) {
  if (!OSGuardOwnMutexAcrossForks())
    Say("cannot register fork handlers for its own mutex: a child forked while a thread calls "
        "through it may wait for ever in its first call there",
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

}  // namespace

OSProcessView OSPrivate::sView = {.fMutex = &OS::sStdLibOSMutex,
                                  .fCore = nullptr,
                                  .fWaits = &sOwnWaits,
                                  .fExit = &sOwnExit,
                                  .fThreadEnd = kOSThreadEndChain};

// Runs before ordinary static constructors, so that a fork made by one of
// them is already covered. Chooses what this copy shares (OSProcessView):
// nothing but what it can check it agrees on.
__attribute__((constructor(101))) void OSJoinTheProcess() {
  const struct link_map* const copy = ThisCopy();
  SayIfApart(copy);
  // A copy with a mutex of its own leaves the process's handlers alone,
  // and guards its own; of the others, the first to start takes charge of
  // the process's.
  if (!JoinProcessWide(copy)) return GuardOwnMutex(copy);
  OSProcessView& view = OSPrivate::sView;
  const Binding record = BindingOf(&OSPrivate::sProcess);
  const UInt32 layout = RecordLayout(record);
  if (!MutexAgrees(layout)) {
    view.fMutex = &sOwnMutex;
    fprintf(stderr,
            "SafeStdLib: %s keeps a standard-library mutex of its own: the process's, in %s, is "
            "locked another way\n",
            NameOf(copy), BindingOf(&OS::sStdLibOSMutex).fOwner);
    return GuardOwnMutex(copy);
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
    if (!OSResetWaitsInChildren())
      Say("cannot reset its waits in a child: a child's first stall may go unsaid", copy);
  }
  if (__atomic_exchange_n(&OSPrivate::sProcess.fCore.fClaimed, 1, __ATOMIC_ACQ_REL) != 0) {
    view.fThreadEnd = OSThreadEndProtocolOf(layout);
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
  OSArmExitHold();
  OSTakeChargeOfThreadEnd(layout);
  if (!OSGuardForks())
    Say("cannot register its fork handlers: a child may start with the mutex held", copy);
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

void OSSayOfThisCopy(const char* what) { Say(what, ThisCopy()); }
