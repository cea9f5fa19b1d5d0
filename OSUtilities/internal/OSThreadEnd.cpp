// OSThreadEnd.cpp: a thread that ends holding the standard-library mutex
// has every level released at its end, with one line on standard error.
//
// A thread that returns, calls pthread_exit() or is cancelled without
// unwinding through a locker (host code built without exceptions) while it
// holds the mutex would keep it for good, and the C library may give its
// pthread_t to the next thread, which would then be taken for the holder.
// So each thread, at its first level, sets the process's thread-end key,
// whose destructor gives back what the thread still holds. There is one
// key per process, made by the copy in charge (OSProcessRecord.h), whose
// destructor therefore never unloads.

#include "OSUtilities/internal/OSThreadEnd.h"

#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSProcessRecord.h"

namespace {

// The rounds of key destructors the C library has run for the ending
// thread. Read only by the copy in charge, which is never unloaded.
__thread unsigned char sEndRounds __attribute__((tls_model("initial-exec"))) = 0;

// The key's destructor. The value is never followed: a copy of an earlier
// release may have put a link there that lives in its static TLS, and that
// copy may since have been unloaded and its TLS given to another object.
// Instead the value is set again for the C library's next round of
// destructors, so that a level taken in a key destructor that runs after
// this one is released too, up to the round before the last.
void ReleaseAtThreadEnd(void*) {
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

// Makes the process's thread-end key, once; called at a first level
// through OSProcessCore::fMakeThreadEndKey, in any copy. A key that the C
// library refuses (the process has used them all) is tried again at every
// later first level, a scan of the C library's key table, and the loss is
// said once.
bool MakeThreadEndKey() {
  static bool sSaid = false;
  OSProcessCore& process = OSPrivate::sProcess.fCore;
  int state = kOSThreadEndKeyNone;
  if (!__atomic_compare_exchange_n(&process.fThreadEndState, &state, kOSThreadEndKeyMaking, false,
                                   __ATOMIC_ACQUIRE, __ATOMIC_ACQUIRE))
    return state == kOSThreadEndKeyMade;
  const int err = pthread_key_create(&process.fThreadEndKey, ReleaseAtThreadEnd);
  if (err != 0 && !sSaid) {
    sSaid = true;
    fprintf(stderr,
            "SafeStdLib: no thread-specific key (%s): a thread that ends holding the "
            "standard-library mutex keeps it until a key can be made\n",
            strerror(err));
  }
  __atomic_store_n(&process.fThreadEndState, err == 0 ? kOSThreadEndKeyMade : kOSThreadEndKeyNone,
                   __ATOMIC_RELEASE);
  return err == 0;
}

}  // namespace

void OSTakeChargeOfThreadEnd(UInt32 layout) {
  // Copies that start later follow this copy's protocol; the earlier
  // releases' copies chain links that this copy never follows.
  if (layout >= 3) {
    __atomic_store_n(&OSPrivate::sProcess.fInterface.fThreadEnd, kOSThreadEndUnlinked,
                     __ATOMIC_RELEASE);
    OSPrivate::sView.fThreadEnd = kOSThreadEndUnlinked;
  }
  __atomic_store_n(&OSPrivate::sProcess.fCore.fMakeThreadEndKey, &MakeThreadEndKey,
                   __ATOMIC_RELEASE);
  MakeThreadEndKey();
}

UInt32 OSThreadEndProtocolOf(UInt32 layout) {
  if (layout < 3) return kOSThreadEndChain;
  return __atomic_load_n(&OSPrivate::sProcess.fInterface.fThreadEnd, __ATOMIC_ACQUIRE);
}

// ---- Each thread's part: arranged through the copy it first locks through.

__thread OSThreadEndLink OSMutexProtocol::sThreadEnd
    __attribute__((tls_model("initial-exec"))) = {false, nullptr};

void OSMutexProtocol::ArrangeThreadEnd() {
#if OS_MUTEX_FAST_PATH && OS_THREAD_POINTER
  // The distance from the thread pointer to the descriptor is measured in
  // one thread and holds for all; a thread where it did not would be taken
  // for another.
  if (!OSGlibc::ByCalls() && OSGlibc::CurrentThread() != pthread_self())
    Fail("thread pointer check", EINVAL);
#endif
  // Before this copy's start-up (static constructors that run before the
  // library's), while the C library has no key or no room for the value,
  // the thread tries again at a later first level.
  const OSProcessView& view = OSPrivate::sView;
  OSProcessCore* const process = view.fCore;
  if (process == nullptr) return;
  if (__atomic_load_n(&process->fThreadEndState, __ATOMIC_ACQUIRE) != kOSThreadEndKeyMade) {
    bool (*const make)() = __atomic_load_n(&process->fMakeThreadEndKey, __ATOMIC_ACQUIRE);
    if (make == nullptr || !make()) return;
  }
  void* value = OSThreadEndArmed();
  if (view.fThreadEnd == kOSThreadEndChain) {
    // The copy in charge follows the chain; this copy stays loaded.
    sThreadEnd.fNext = static_cast<OSThreadEndLink*>(pthread_getspecific(process->fThreadEndKey));
    value = &sThreadEnd;
  }
  if (pthread_setspecific(process->fThreadEndKey, value) != 0) return;
  sThreadEnd.fArranged = true;
#if OS_MUTEX_FAST_PATH
  // Under the chain, a copy of an earlier release clears the link when the
  // thread ends, and a level taken after that must arrange it again.
  sFast = !OSGlibc::ByCalls() && view.fThreadEnd != kOSThreadEndChain;
#endif
}

UInt32 OSMutexProtocol::ReleaseForEndedThread(OSMutex& m) {
  if (!HeldBy(m, pthread_self())) return 0;
  const UInt32 levels = m.fHolderCount;
  m.fHolderCount = 1;
  Unlock(m);
  return levels;
}
