// OSProcessRecord.h: what the copies of the library in one process share
// beside the mutex itself, and what each copy makes of it.
//
// Private to the library; never installed. One record per process (see
// OSProcessUnique.h): the first definition the dynamic linker meets, which
// may come from a copy of an earlier release. The record is an interface
// between releases, and grows only at its end:
//
//   layout 1  OSProcessCore alone (the earliest releases)
//   layout 2  + OSProcessWaits
//   layout 3  + OSProcessInterface, which names the layout and size, and
//             OSProcessExit
//
// A copy learns the layout of the definition it is bound to from the
// definition's symbol size before it touches anything past the core, never
// reads or writes past what that definition holds, and keeps whatever it
// cannot share in state of its own (OSProcessView). Fields are never
// reordered or given another meaning; a change that cannot be appended
// takes a new symbol name.
//
// The first copy to run its start-up takes charge of the record: it
// registers the process's fork handlers and the exit hold, makes the
// thread-end key, and keeps itself loaded for the life of the process, so
// that nothing it registered can outlive its code.
#ifndef OSProcessRecord_H
#define OSProcessRecord_H

#include <pthread.h>
#include <stddef.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/OSHeaders.h"

// A thread-local link of one copy: whether the thread has arranged, through
// that copy, for the standard-library mutex to be released if the thread
// ends holding it. Under the earlier releases' thread-end protocol the key's
// value chains the links of every copy the thread arranged through, and the
// key's destructor clears them all; a copy that links itself in then must
// stay loaded. The protocol of this release never puts a link in the chain.
struct OSThreadEndLink {
  bool fArranged;
  OSThreadEndLink* fNext;
};

// OSProcessCore::fThreadEndState: no key made (none tried yet, or the last
// try failed), one thread making it, fThreadEndKey made.
constexpr int kOSThreadEndKeyNone = 0;
constexpr int kOSThreadEndKeyMaking = 1;
constexpr int kOSThreadEndKeyMade = 2;

// Layout 1.
struct OSProcessCore {
  int fClaimed;  // 1 once a copy has taken charge of the process
  // Made by the copy in charge, and by every copy through it: one of the
  // kOSThreadEndKey states above.
  int fThreadEndState;
  pthread_key_t fThreadEndKey;
  // The copy in charge's MakeThreadEndKey(), which only that copy's code
  // may run: the key's destructor lives there. Null until a copy takes
  // charge.
  bool (*fMakeThreadEndKey)();
};

// Layout 2: how the standard-library mutex has been waited for, written by
// a waiter once it holds the mutex and read under it
// (OS::GetStdLibMutexContention()), and what the host asked for (OS.h),
// read by waiters without the mutex.
struct OSProcessWaits {
  UInt64 fContendedLocks;
  UInt64 fWaitNanos;
  UInt64 fLongestWaitNanos;
  UInt64 fKernelWaits;
  void (*fTracer)(const char* message, const void* mutex, UInt64 waitNanos);
  UInt32 fStallMillis;  // 0: no stall line
  // Threads waiting for the mutex now; the holder a stall line was written
  // for, until a waiter gets the mutex.
  int fWaiters;
  pthread_t fStallReported;
};

// How the mutex is locked: protocol 1 is the rules stated at the top of
// OSMutexProtocol.h (the lock word, __owner, fHolder and fHolderCount),
// which every release so far keeps. Copies that lock another way must not
// share the mutex. A test-only build claims another protocol, to be turned
// away.
#if defined(SAFESTDLIB_TEST_ONLY_MUTEX_PROTOCOL)
constexpr UInt32 kOSMutexProtocol = SAFESTDLIB_TEST_ONLY_MUTEX_PROTOCOL;
#else
constexpr UInt32 kOSMutexProtocol = 1;
#endif

// What the copy in charge's thread-end key destructor expects of the key's
// value: 0 (what the earlier releases leave) a chain of OSThreadEndLinks,
// which it follows and clears; 1 any value, which it never follows.
constexpr UInt32 kOSThreadEndChain = 0;
constexpr UInt32 kOSThreadEndUnlinked = 1;

// Layout 3.
struct OSProcessInterface {
  UInt32 fLayout;         // the definition's layout: 3 or later
  UInt32 fSize;           // sizeof the definition's OSProcessRecord
  UInt32 fMutexProtocol;  // kOSMutexProtocol of the first copy
  UInt32 fMutexSize;      // sizeof the first copy's OSMutex
  UInt32 fThreadEnd;      // set by the copy in charge when it takes charge
};

// Layout 3 too: how the exit hold and the printers meet, each field
// written and read atomically. The printers mark their C library call;
// the hold waits for a marked print however long it takes, and while it
// waits, a printer that takes the mutex holding no other level lets go and
// waits for the hold, so that threads printing without a pause cannot keep
// the exit from it. Once the hold is over, a routine waits for the mutex
// for a bounded time only (OSMutexProtocol::LockForCall()). A fork child
// starts with both at 0.
struct OSProcessExit {
  int fPrinting;  // 1 while the mutex's holder is inside a print
  int fExitHold;  // kOSExitHold...: where the exit hold is
};

constexpr int kOSExitHoldNone = 0;     // no exit under way, or not yet at the hold
constexpr int kOSExitHoldWaiting = 1;  // the hold waits for the mutex
constexpr int kOSExitHoldOver = 2;     // it has the mutex for good, or gave up on its holder

struct OSProcessRecord {
  OSProcessCore fCore;
  OSProcessWaits fWaits;
  OSProcessInterface fInterface;
  OSProcessExit fExit;
};

constexpr UInt32 kOSProcessLayout = 3;

// The size of a definition of each layout, which is what its symbol says.
constexpr size_t kOSProcessLayout1Size = sizeof(OSProcessCore);
constexpr size_t kOSProcessLayout2Size = offsetof(OSProcessRecord, fInterface);
static_assert(offsetof(OSProcessRecord, fWaits) == kOSProcessLayout1Size,
              "the waits must follow the core, as in the layout 2 releases");
#if OS_X86_64 || OS_AARCH64
static_assert(kOSProcessLayout1Size == 24 && kOSProcessLayout2Size == 80,
              "the earlier releases' layouts moved");
#elif OS_X86_32 || OS_ARM32
static_assert(kOSProcessLayout1Size == 16 && kOSProcessLayout2Size == 64,
              "the earlier releases' layouts moved");
#endif

namespace OSPrivate {
SAFESTDLIB_API extern OSProcessRecord sProcess;
}

// What this copy uses of the process-wide state, chosen once by its
// start-up (OSProcessJoin.cpp) before any of its routines can run in
// another thread. Until then: the process's mutex and core, and waits of
// its own.
struct OSProcessView {
  OSMutex* fMutex;         // the standard-library mutex the routines take
  OSProcessCore* fCore;    // the thread-end key; null: no thread-end release
  OSProcessWaits* fWaits;  // the process's figures or this copy's own
  OSProcessExit* fExit;    // the process's exit handshake or this copy's own
  UInt32 fThreadEnd;       // the protocol of the copy in charge's key
};

namespace OSPrivate {
extern OSProcessView sView __attribute__((visibility("hidden")));
}

// The standard-library mutex that this copy's routines take: the process's,
// unless this copy cannot share it. Never blocks.
inline OSMutex* OSStdLibMutexInUse() OS_RETURN_CAPABILITY(OS::sStdLibOSMutex) {
  return OSPrivate::sView.fMutex;
}

// For process-wide state of the routines' own, exported under the symbol
// `name` with the unique binding (OSProcessUnique.h), from the routines'
// start-up: asks the dynamic linker for the definition, which binds the
// first one it finds for good before any plugin with a copy of its own can
// be loaded, and checks that this copy's reference `used` reaches it.
// Otherwise says once on standard error, naming this copy, what it does
// (`loss`), and returns false. Never blocks.
bool OSJoinProcessWide(const char* name, const void* used, const char* loss);

// For process-wide state of the routines' own, guarded by the
// standard-library mutex, once this copy's start-up has chosen its view:
// whether this copy may use the definition that its reference `used`
// reaches, which must hold at least `needed` bytes and be guarded by the
// mutex this copy takes. Otherwise says once on standard error, naming
// this copy, that it keeps `what` of its own, and returns false.
bool OSMayShare(const void* used, size_t needed, const char* what);

// The thread-end key's value under kOSThreadEndUnlinked: never followed,
// and the process's record, which the dynamic linker never unloads.
inline void* OSThreadEndArmed() { return &OSPrivate::sProcess; }

#endif  // OSProcessRecord_H
