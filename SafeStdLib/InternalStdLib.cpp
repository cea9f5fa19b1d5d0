// InternalStdLib.cpp: the SafeStdLib routines, and the checked entries that
// a host built with _FORTIFY_SOURCE reaches.
//
// Each routine tests at most one argument, takes the standard-library mutex,
// makes its one C library call, copies out what the C library keeps in
// static storage, and lets the mutex go. The lock and unlock are inline
// here (OSMutexProtocol.h).
//
// Only the printers' calls can block and be cancelled. They hold their
// levels under a cancellation cleanup buffer (OSCancelCleanup.h), never in
// an object with a destructor, so a cancelled print gives back each level
// exactly once, whether or not the C library's frames can be unwound. This
// file is compiled with -fno-builtin, so that the C library's output
// routines stay calls of their own; no routine here is noexcept.
//
// Each checked entry (zuvo_snprintf_chk, ...) is its plain routine's guard,
// one comparison, and its plain routine's inline body (Locked...()).

// What each time routine's symbol takes is fixed, whatever this file is
// built with: the target's own time_t (32 bits on i686 and armhf) and,
// beside it where SafeStdLib.h says so, a 64-bit time. _TIME_BITS=64 would
// widen time_t here, so it is dropped before any header reads it.
#undef _TIME_BITS
// Nor does _FORTIFY_SOURCE change what the routines do. It would turn their
// own calls of the C library's printers into glibc's checking ones, which
// refuse a %n in writable memory at every level of every host, and end the
// process holding the mutex. A host's level asks for those checks itself,
// through the _fchk entries, which make them before any lock.
#undef _FORTIFY_SOURCE

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "OSUtilities/OS.h"
#include "OSUtilities/OSMutex.h"
#include "OSUtilities/internal/OSCancelCleanup.h"
#include "OSUtilities/internal/OSMutexProtocol.h"
#include "OSUtilities/internal/OSPlatform.h"
#include "SafeStdLib/SafeStdLib.h"
#include "SafeStdLib/internal/FormatCheck.h"
#include "SafeStdLib/internal/MaxPrintfRecord.h"
#include "SafeStdLib/internal/ZoneReset.h"

// A test-only build defines SAFESTDLIB_TEST_ONLY_SKIP_LOCK to take no lock
// at all, so that the stress test can show it notices a missing lock.
#if defined(SAFESTDLIB_TEST_ONLY_SKIP_LOCK)
namespace {
class OS_SCOPED_CAPABILITY NoLocker {
 public:
  explicit NoLocker(OSMutex* inMutexP) OS_ACQUIRE(inMutexP) { (void)inMutexP; }
  ~NoLocker() OS_RELEASE() {}
  bool Without() const { return false; }
};
bool TakeStdLibMutex() { return true; }
void GiveStdLibMutex() {}
}  // namespace
#  define OSCallLocker NoLocker
#else
namespace {
// False once the exit hold has kept the mutex past the routines' bound
// (OSMutexProtocol::LockForCall()): the caller then holds nothing.
inline bool TakeStdLibMutex() OS_NO_THREAD_SAFETY_ANALYSIS {
  return OSMutexProtocol::LockForCall(*OSStdLibMutexInUse());
}
inline void GiveStdLibMutex() OS_NO_THREAD_SAFETY_ANALYSIS {
  OSMutexProtocol::Unlock(*OSStdLibMutexInUse());
}
}  // namespace
#endif

// ---- The capped console printer's state, for the life of the process:
// the process's one record, shared by every copy of the library in it that
// can share it, or this copy's own.

static MaxPrintfRecord sOwnMaxPrintfRecord = kMaxPrintfRecordAtStart;
static MaxPrintfRecord* sMaxPrintf OS_PT_GUARDED_BY(OS::sStdLibOSMutex) =
    &SafeStdLibPrivate::sMaxPrintfRecord;

// Runs after the utilities' start-up (priority 101) has chosen the mutex,
// before ordinary static constructors.
__attribute__((constructor(102))) static void JoinMaxPrintfRecord() {
  // A record bound to this copy alone is still this copy's to use.
  (void)OSJoinProcessWide(SAFESTDLIB_MAXPRINTF_RECORD_SYMBOL, &SafeStdLibPrivate::sMaxPrintfRecord,
                          "keeps a capped printer's total and limit of its own: its copy of the "
                          "library was linked with them hidden or bound to itself");
  if (!OSMayShare(&SafeStdLibPrivate::sMaxPrintfRecord, kMaxPrintfSharedSize,
                  "a capped printer's total and limit"))
    sMaxPrintf = &sOwnMaxPrintfRecord;
}

// The three values, by the names the routines below have always used.
#define sTotalChars (sMaxPrintf->fTotalChars)
#define sMaxTotalCharsInK (sMaxPrintf->fMaxTotalCharsInK)
#define sMaxFileSizeReached (sMaxPrintf->fMaxFileSizeReached)

// A print that the C library fails with EOVERFLOW has written its text,
// more than INT_MAX characters, and could not count it. It counts as at
// least that much and as passing the limit, so the next call is refused.
static void CountUncountablePrint(UInt64 maxChars) OS_REQUIRES(OS::sStdLibOSMutex) {
  sTotalChars += static_cast<UInt64>(INT_MAX) + 1;
  if (sTotalChars <= maxChars) sTotalChars = maxChars + 1;
}

// The capped printer's record is the mutex's to guard: past the exit's
// bound (OSCallLocker::Without()) the getter says 0 and the setter changes
// nothing, as the printers then print nothing.
UInt32 zuvo_getmaxprintfcharsinK() {
  OSCallLocker locker(OSStdLibMutexInUse());
  if (OS_UNLIKELY(locker.Without())) return 0;
  return sMaxTotalCharsInK;
}

void zuvo_setmaxprintfcharsinK(UInt32 newMaxCharsInK) {
  OSCallLocker locker(OSStdLibMutexInUse());
  if (OS_UNLIKELY(locker.Without())) return;
  sMaxTotalCharsInK = newMaxCharsInK;
}

using PrintFn = int (*)(FILE*, const char*, va_list);

// Prints the caller's text to standard output through print, capped; the
// caller holds the standard-library mutex and standard output's lock.
template <PrintFn print>
__attribute__((always_inline)) static inline int CappedPrint(FILE* out, const char* fmt,
                                                             va_list args)
    OS_REQUIRES(OS::sStdLibOSMutex) {
  const UInt64 maxChars = static_cast<UInt64>(sMaxTotalCharsInK) * 1024;
  if (sTotalChars > maxChars) {
    if (sMaxFileSizeReached == 0)
      fprintf(out, "\nReached maximum configured output limit = %uK\n", sMaxTotalCharsInK);
    sMaxFileSizeReached = 1;
    return -1;
  }
  sMaxFileSizeReached = 0;

  const int result = print(out, fmt, args);
  if (result > 0) {
    sTotalChars += static_cast<UInt64>(result);
  } else if (result < 0 && errno == EOVERFLOW) {
    CountUncountablePrint(maxChars);
  }
  // Any other failed print wrote nothing countable; adding its negative
  // result to the unsigned total would wrap it and silence the printer.
  return result;
}

// Marks the holder of the mutex as inside a print, or no longer: one plain
// store, made while the mutex is held, which the exit hold reads to tell a
// print blocked on its reader from a holder that does not let go.
static inline void SetPrinting(OSProcessExit& exit, int printing) {
  __atomic_store_n(&exit.fPrinting, printing, __ATOMIC_RELAXED);
}

// Gives back what a print holds: the mark that it prints, one level of the
// stream's lock, then the level of the mutex that the print took, if it
// took one (a caller that held the mutex lends its own to the print).
__attribute__((always_inline)) static inline void GivePrintLevels(
    OSProcessExit& exit, FILE* file, bool tookLevel) OS_NO_THREAD_SAFETY_ANALYSIS {
  SetPrinting(exit, 0);
  funlockfile(file);
  if (tookLevel) GiveStdLibMutex();
}

// The same, as the cleanup for a print that is cancelled or exits inside
// the C library.
static void GivePrintLevelsOnCancel(void* file) {
  GivePrintLevels(*OSPrivate::sView.fExit, static_cast<FILE*>(file), true);
}
static void GiveStreamOnCancel(void* file) {
  GivePrintLevels(*OSPrivate::sView.fExit, static_cast<FILE*>(file), false);
}

// Runs print(file, fmt, args) for a caller that holds the mutex (a level
// of its own if tookLevel) and then one level of file's lock, and gives
// back what the print took.
//
// glibc runs the cleanup buffer pushed here once a cancellation or
// pthread_exit() has unwound the frames deeper than this one, telling by
// address which buffers a frame leaves behind. Under AddressSanitizer's
// detect_stack_use_after_return the buffer sits on ASan's fake stack, away
// from the thread's own, so glibc runs it at the first frame it unwinds,
// before the C library's cleanups in deeper frames. That order is harmless:
// the stream's lock counts levels, and this cleanup gives back only this
// print's own, so every level is still given back exactly once.
template <PrintFn print, bool tookLevel>
__attribute__((always_inline)) static inline int PrintHeld(
    OSProcessExit& exit, FILE* file, const char* fmt, va_list args) OS_NO_THREAD_SAFETY_ANALYSIS {
  int result;
  OS_CANCEL_CLEANUP_PUSH(tookLevel ? GivePrintLevelsOnCancel : GiveStreamOnCancel, file);
  SetPrinting(exit, 1);
  result = print(file, fmt, args);
  OS_CANCEL_CLEANUP_POP();
  GivePrintLevels(exit, file, tookLevel);
  return result;
}

// A print whose wait for the mutex outlasted the bound after the exit hold
// (TakeStdLibMutex() false: the exit holds the mutex, and the process is
// about to end) prints nothing and returns -1, errno as it was. Made
// without the mutex it would run into the C library's final flush, which
// tears or doubles it before glibc 2.41 and cuts it after, and the bound
// can pass before the process ends (an exit handler that runs after the
// hold: ThreadSanitizer's runtime sleeps a second in one). A line is then
// whole and once, or not at all, and a thread that prints on finds every
// later print refused too, so its output has no gap.
constexpr int kRefusedAfterExit = -1;

// PrintLocked()'s way when another thread holds the stream: wait for the
// stream holding nothing, and take both again.
template <PrintFn print>
__attribute__((noinline)) static int PrintAfterWaiting(FILE* file, const char* fmt, va_list args) {
  for (;;) {
    flockfile(file);
    funlockfile(file);
    if (OS_UNLIKELY(!TakeStdLibMutex())) return kRefusedAfterExit;
    if (ftrylockfile(file) == 0)
      return PrintHeld<print, true>(*OSPrivate::sView.fExit, file, fmt, args);
    GiveStdLibMutex();
  }
}

// Runs print(file, fmt, args) holding the standard-library mutex and then
// file's own lock, in an order that cannot deadlock against a host thread
// that holds the stream's lock (flockfile) and calls a routine: when the
// stream is taken, the mutex is let go, the stream waited for without
// holding anything, and both taken again. A caller that already held the
// mutex cannot let go of it, and waits for the stream holding it. With the
// stream's lock held here, the C library's own lock on it is a recursive
// count, so an uncontended print takes no more atomic steps than before.
template <PrintFn print>
__attribute__((noinline, cold)) static int PrintAfterExit(FILE* file, const char* fmt,
                                                          va_list args);

template <PrintFn print>
__attribute__((always_inline)) static inline int PrintLocked(FILE* file, const char* fmt,
                                                             va_list args) {
  OSProcessExit& exit = *OSPrivate::sView.fExit;
  if (OSMutexProtocol::HeldByCaller(*OSStdLibMutexInUse())) {
    // The caller's level holds the mutex through the print, and the
    // caller cannot let go of it: it waits for the stream holding it.
    if (OS_UNLIKELY(ftrylockfile(file) != 0)) flockfile(file);
    return PrintHeld<print, false>(exit, file, fmt, args);
  }
  if (OS_UNLIKELY(!TakeStdLibMutex())) return kRefusedAfterExit;
  if (OS_UNLIKELY(__atomic_load_n(&exit.fExitHold, __ATOMIC_RELAXED) == kOSExitHoldWaiting))
    return PrintAfterExit<print>(file, fmt, args);
  if (OS_LIKELY(ftrylockfile(file) == 0)) return PrintHeld<print, true>(exit, file, fmt, args);
  GiveStdLibMutex();
  return PrintAfterWaiting<print>(file, fmt, args);
}

// PrintLocked()'s way while the exit hold waits for the mutex, for a caller
// that held no level before: it lets go and waits until the hold has the
// mutex (then it waits for the exit's bound, as every thread but the
// exiting one does) or has given up. One that did hold a level prints, and
// the hold waits for it.
template <PrintFn print>
static int PrintAfterExit(FILE* file, const char* fmt, va_list args) {
  GiveStdLibMutex();
  const struct timespec oneMilli = {0, 1000 * 1000};
  while (__atomic_load_n(&OSPrivate::sView.fExit->fExitHold, __ATOMIC_RELAXED) ==
         kOSExitHoldWaiting)
    nanosleep(&oneMilli, nullptr);
  return PrintLocked<print>(file, fmt, args);
}

int zuvo_maxprintf(const char* fmt, ...) {
  if (fmt == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintLocked<CappedPrint<vfprintf>>(stdout, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vmaxprintf(const char* fmt, va_list args) {
  if (fmt == nullptr) return -1;
  return PrintLocked<CappedPrint<vfprintf>>(stdout, fmt, args);
}

// ---- Locked formatted output.

int zuvo_printf(const char* fmt, ...) {
  if (fmt == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintLocked<vfprintf>(stdout, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vprintf(const char* fmt, va_list args) {
  if (fmt == nullptr) return -1;
  return PrintLocked<vfprintf>(stdout, fmt, args);
}

// How a checked entry (zuvo_snprintf_chk, ...) fails, for hosts built with
// _FORTIFY_SOURCE.

#if OS_GLIBC
// glibc's own failure for its fortified routines: its message on standard
// error (or the terminal), then abort().
extern "C" [[noreturn]] void __chk_fail(void);
#endif

// A fortified call was given more room than the caller's buffer has: ends
// the process as glibc's checks do.
[[noreturn]] __attribute__((noinline, cold)) static void BufferOverflowDetected() {
#if OS_GLIBC
  __chk_fail();
#else
  static const char kText[] = "*** buffer overflow detected ***: terminated\n";
  if (write(STDERR_FILENO, kText, sizeof kText - 1) < 0) {
    // Nothing more to say: the process ends either way.
  }
  abort();
#endif
}

// The bounded routines' check, glibc's __snprintf_chk's: the size given
// must be no more than the buffer's.
__attribute__((always_inline)) static inline void CheckFits(size_t size, size_t objsize) {
  if (OS_UNLIKELY(size > objsize)) BufferOverflowDetected();
}

// The C library's buffer printers, as the plain routines call them.
struct PlainCalls {
  static int Vsprintf(char* buffer, const char* fmt, va_list args) {
    return vsprintf(buffer, fmt, args);
  }
  static int Vsnprintf(char* str, size_t size, const char* fmt, va_list args) {
    return vsnprintf(str, size, fmt, args);
  }
};

// The bodies of the plain routines, shared with their checked entries: each
// for a caller that has applied the routine's guard, printing through
// Calls.
template <class Calls = PlainCalls>
__attribute__((always_inline)) static inline int LockedVsprintf(char* buffer, const char* fmt,
                                                                va_list args,
                                                                Calls calls = Calls()) {
  OSCallLocker locker(OSStdLibMutexInUse());
  return calls.Vsprintf(buffer, fmt, args);
}

template <class Calls = PlainCalls>
__attribute__((always_inline)) static inline int LockedVsnprintf(char* str, size_t size,
                                                                 const char* fmt, va_list args,
                                                                 Calls calls = Calls()) {
  OSCallLocker locker(OSStdLibMutexInUse());
  return calls.Vsnprintf(str, size, fmt, args);
}

// The unbounded routines' check, glibc's __sprintf_chk's: the text, printed
// holding the lock with the buffer's size as the bound, must have fit whole
// with its terminator. A buffer of more than INT_MAX bytes holds any text
// that can be printed (musl's vsnprintf refuses such a bound).
template <class Calls = PlainCalls>
__attribute__((always_inline)) static inline int CheckedVsprintf(char* buffer, size_t objsize,
                                                                 const char* fmt, va_list args,
                                                                 Calls calls = Calls()) {
  if (objsize > static_cast<size_t>(INT_MAX)) return LockedVsprintf(buffer, fmt, args, calls);
  const int result = LockedVsnprintf(buffer, objsize, fmt, args, calls);
  if (OS_UNLIKELY(result >= 0 && static_cast<size_t>(result) >= objsize)) BufferOverflowDetected();
  return result;
}

int zuvo_sprintf(char* buffer, const char* fmt, ...) {
  if (buffer == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = LockedVsprintf(buffer, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vsprintf(char* buffer, const char* fmt, va_list args) {
  if (buffer == nullptr) return -1;
  return LockedVsprintf(buffer, fmt, args);
}

int zuvo_sprintf_chk(char* buffer, size_t objsize, const char* fmt, ...) {
  if (buffer == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = CheckedVsprintf(buffer, objsize, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vsprintf_chk(char* buffer, size_t objsize, const char* fmt, va_list args) {
  if (buffer == nullptr) return -1;
  return CheckedVsprintf(buffer, objsize, fmt, args);
}

int zuvo_fprintf(FILE* file, const char* fmt, ...) {
  if (file == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintLocked<vfprintf>(file, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vfprintf(FILE* file, const char* fmt, va_list args) {
  if (file == nullptr) return -1;
  return PrintLocked<vfprintf>(file, fmt, args);
}

int zuvo_snprintf(char* str, size_t size, const char* fmt, ...) {
  if (str == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = LockedVsnprintf(str, size, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vsnprintf(char* str, size_t size, const char* fmt, va_list args) {
  if (str == nullptr) return -1;
  return LockedVsnprintf(str, size, fmt, args);
}

int zuvo_snprintf_chk(char* str, size_t size, size_t objsize, const char* fmt, ...) {
  if (str == nullptr) return -1;
  CheckFits(size, objsize);
  va_list args;
  va_start(args, fmt);
  const int result = LockedVsnprintf(str, size, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vsnprintf_chk(char* str, size_t size, size_t objsize, const char* fmt, va_list args) {
  if (str == nullptr) return -1;
  CheckFits(size, objsize);
  return LockedVsnprintf(str, size, fmt, args);
}

// ---- The format-checked entries (zuvo_printf_fchk, ...), for hosts built
// with _FORTIFY_SOURCE=2 or 3 against glibc. Each makes its checks before
// taking any lock (FormatCheck.h) and prints as its routine does, through
// glibc's own flag-taking printer: with the flag where glibc may check the
// format again as it prints, finding nothing that the checks here have not
// found first; without it for a format with %n, whose check glibc would
// make again reading /proc/self/maps, under the mutex. A library built
// with _FORTIFY_SOURCE itself makes no checks of its own accord: each call
// names its flag.

#if OS_GLIBC
// glibc's flag-taking printers (libio/bits/stdio2-decl.h), by names of
// their own: glibc declares them, noexcept, only under _FORTIFY_SOURCE.
extern "C" int GlibcVfprintfChk(FILE* file, int flag, const char* fmt,
                                va_list args) __asm__("__vfprintf_chk");
extern "C" int GlibcVsnprintfChk(char* str, size_t size, int flag, size_t objsize, const char* fmt,
                                 va_list args) __asm__("__vsnprintf_chk");
extern "C" int GlibcVsprintfChk(char* buffer, int flag, size_t objsize, const char* fmt,
                                va_list args) __asm__("__vsprintf_chk");

// The C library's printer to a stream with glibc's flag.
template <int flag>
struct FormatCalls {
  static int Vfprintf(FILE* file, const char* fmt, va_list args) {
    return GlibcVfprintfChk(file, flag, fmt, args);
  }
};

// Its buffer printers with glibc's flag, fFlag.
struct FlaggedCalls {
  explicit FlaggedCalls(int flag) : fFlag(flag) {}
  int fFlag;
  int Vsprintf(char* buffer, const char* fmt, va_list args) const {
    return GlibcVsprintfChk(buffer, fFlag, ~static_cast<size_t>(0), fmt, args);
  }
  int Vsnprintf(char* str, size_t size, const char* fmt, va_list args) const {
    return GlibcVsnprintfChk(str, size, fFlag, size, fmt, args);
  }
};
#else
// Elsewhere the C library checks nothing: the plain printers.
template <int flag>
struct FormatCalls {
  static int Vfprintf(FILE* file, const char* fmt, va_list args) {
    return vfprintf(file, fmt, args);
  }
};
struct FlaggedCalls : PlainCalls {
  explicit FlaggedCalls(int) {}
};
#endif
using Unchecking = FormatCalls<0>;
using Checking = FormatCalls<1>;

using SafeStdLibPrivate::CheckFormat;

// What the printers to a stream share: the format checked, then print or
// the capped print through the calls that CheckFormat() allows; without
// glibc's checks (a %n, or no flag) out of line.
template <template <PrintFn> class Print>
__attribute__((noinline, cold)) static int PrintUnchecked(FILE* file, const char* fmt,
                                                          va_list args) {
  return Print<Unchecking::Vfprintf>::Run(file, fmt, args);
}
template <template <PrintFn> class Print>
__attribute__((always_inline)) static inline int PrintFormatChecked(FILE* file, int flag,
                                                                    const char* fmt, va_list args) {
  if (OS_LIKELY(CheckFormat(flag, fmt))) return Print<Checking::Vfprintf>::Run(file, fmt, args);
  return PrintUnchecked<Print>(file, fmt, args);
}
template <PrintFn print>
struct StreamPrint {
  __attribute__((always_inline)) static int Run(FILE* file, const char* fmt, va_list args) {
    return PrintLocked<print>(file, fmt, args);
  }
};
template <PrintFn print>
struct CappedStreamPrint {
  __attribute__((always_inline)) static int Run(FILE* file, const char* fmt, va_list args) {
    return PrintLocked<CappedPrint<print>>(file, fmt, args);
  }
};

int zuvo_vfprintf_fchk(FILE* file, int flag, const char* fmt, va_list args) {
  if (file == nullptr) return -1;
  return PrintFormatChecked<StreamPrint>(file, flag, fmt, args);
}

int zuvo_fprintf_fchk(FILE* file, int flag, const char* fmt, ...) {
  if (file == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintFormatChecked<StreamPrint>(file, flag, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vprintf_fchk(int flag, const char* fmt, va_list args) {
  if (fmt == nullptr) return -1;
  return PrintFormatChecked<StreamPrint>(stdout, flag, fmt, args);
}

int zuvo_printf_fchk(int flag, const char* fmt, ...) {
  if (fmt == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintFormatChecked<StreamPrint>(stdout, flag, fmt, args);
  va_end(args);
  return result;
}

int zuvo_vmaxprintf_fchk(int flag, const char* fmt, va_list args) {
  if (fmt == nullptr) return -1;
  return PrintFormatChecked<CappedStreamPrint>(stdout, flag, fmt, args);
}

int zuvo_maxprintf_fchk(int flag, const char* fmt, ...) {
  if (fmt == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = PrintFormatChecked<CappedStreamPrint>(stdout, flag, fmt, args);
  va_end(args);
  return result;
}

// zuvo_vsnprintf_chk's check, then the format's.
__attribute__((always_inline)) static inline int FormatCheckedVsnprintf(char* str, size_t size,
                                                                        int flag, size_t objsize,
                                                                        const char* fmt,
                                                                        va_list args) {
  CheckFits(size, objsize);
  return LockedVsnprintf(str, size, fmt, args, FlaggedCalls(CheckFormat(flag, fmt) ? 1 : 0));
}

int zuvo_vsnprintf_fchk(char* str, size_t size, int flag, size_t objsize, const char* fmt,
                        va_list args) {
  if (str == nullptr) return -1;
  return FormatCheckedVsnprintf(str, size, flag, objsize, fmt, args);
}

int zuvo_snprintf_fchk(char* str, size_t size, int flag, size_t objsize, const char* fmt, ...) {
  if (str == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = FormatCheckedVsnprintf(str, size, flag, objsize, fmt, args);
  va_end(args);
  return result;
}

// The format's check, then zuvo_vsprintf_chk's, which needs the text:
// objsize (size_t)-1, the size unknown, prints without a bound.
__attribute__((always_inline)) static inline int FormatCheckedVsprintf(char* buffer, int flag,
                                                                       size_t objsize,
                                                                       const char* fmt,
                                                                       va_list args) {
  return CheckedVsprintf(buffer, objsize, fmt, args, FlaggedCalls(CheckFormat(flag, fmt) ? 1 : 0));
}

int zuvo_vsprintf_fchk(char* buffer, int flag, size_t objsize, const char* fmt, va_list args) {
  if (buffer == nullptr) return -1;
  return FormatCheckedVsprintf(buffer, flag, objsize, fmt, args);
}

int zuvo_sprintf_fchk(char* buffer, int flag, size_t objsize, const char* fmt, ...) {
  if (buffer == nullptr) return -1;
  va_list args;
  va_start(args, fmt);
  const int result = FormatCheckedVsprintf(buffer, flag, objsize, fmt, args);
  va_end(args);
  return result;
}

// ---- Locked time and error text. The conversions to local time set the
// zone again first (ZoneReset.h).

#if SAFESTDLIB_TIME64_ENTRIES
static_assert(sizeof(time_t) == 4, "the plain time routines take a 32-bit time_t");
#endif

__attribute__((always_inline)) static inline size_t LockedStrftime(char* buf, size_t maxsize,
                                                                   const char* format,
                                                                   const struct tm* timeptr) {
  OSCallLocker locker(OSStdLibMutexInUse());
  [[maybe_unused]] ZoneCall zoneCall;
  const size_t result = strftime(buf, maxsize, format, timeptr);
  // strftime may leave a text that did not fit partly written and
  // unterminated.
  if (result == 0 && maxsize > 0) buf[0] = '\0';
  return result;
}

size_t zuvo_strftime(char* buf, size_t maxsize, const char* format, const struct tm* timeptr) {
  if (buf == nullptr) return 0;
  return LockedStrftime(buf, maxsize, format, timeptr);
}

size_t zuvo_strftime_chk(char* buf, size_t maxsize, size_t objsize, const char* format,
                         const struct tm* timeptr) {
  if (buf == nullptr) return 0;
  CheckFits(maxsize, objsize);
  return LockedStrftime(buf, maxsize, format, timeptr);
}

// Copies the C library's text (null when it could not convert) into the
// caller's buffer; the caller holds the standard-library mutex and has
// checked that buffer has room for at least the terminator. strncpy zero
// fills the rest of the buffer after a short text.
static char* CopyText(const char* text, char* buffer, int buffLen) {
  strncpy(buffer, text != nullptr ? text : "", static_cast<size_t>(buffLen));
  buffer[buffLen - 1] = '\0';
  return text != nullptr ? buffer : nullptr;
}

static bool IsUsable(const char* buffer, int buffLen) { return buffer != nullptr && buffLen >= 1; }

// Past the exit's bound (OSCallLocker::Without()) the text and time
// routines make the reentrant call instead, into storage of their own: the
// texts are the same, but that asctime_r() refuses a year of more than
// four digits. strerror_r() is the GNU form with glibc's C++ (the text, in
// the buffer or not) and POSIX's elsewhere (0, and the text in the buffer).
[[maybe_unused]] static const char* ErrorText(const char* text, const char*) { return text; }
[[maybe_unused]] static const char* ErrorText(int err, const char* scratch) {
  return err == 0 ? scratch : nullptr;
}

__attribute__((noinline, cold)) static char* StrerrorWithoutMutex(int errnum, char* buffer,
                                                                  int buffLen) {
  char scratch[256];
  return CopyText(ErrorText(strerror_r(errnum, scratch, sizeof scratch), scratch), buffer, buffLen);
}

__attribute__((noinline, cold)) static char* AsctimeWithoutMutex(const struct tm* timeptr,
                                                                 char* buffer, int buffLen) {
  char scratch[64];
  return CopyText(timeptr != nullptr ? asctime_r(timeptr, scratch) : nullptr, buffer, buffLen);
}

__attribute__((always_inline)) static inline char* LockedStrerror(int errnum, char* buffer,
                                                                  int buffLen) {
  OSCallLocker locker(OSStdLibMutexInUse());
  if (OS_UNLIKELY(locker.Without())) return StrerrorWithoutMutex(errnum, buffer, buffLen);
  return CopyText(strerror(errnum), buffer, buffLen);
}

// The time routines' bodies, shared by both widths, convert a WideTime:
// glibc's 64-bit time where the routines have entries for one (a 32-bit
// time widens to it, as glibc's own 32-bit conversions widen theirs), else
// time_t. GmtimeOf() and LocaltimeOf() are the C library's conversions of
// it.
#if SAFESTDLIB_TIME64_ENTRIES
using WideTime = __time64_t;
// glibc exports these from 2.34 on; its time/time.h declares them only as
// the names that a _TIME_BITS=64 host's gmtime and localtime_r reach.
extern "C" struct tm* __gmtime64(const __time64_t* timer) noexcept;
extern "C" struct tm* __gmtime64_r(const __time64_t* timer, struct tm* tp) noexcept;
extern "C" struct tm* __localtime64_r(const __time64_t* timer, struct tm* tp) noexcept;
static struct tm* GmtimeOf(const WideTime* when) { return __gmtime64(when); }
static struct tm* GmtimeROf(const WideTime* when, struct tm* tp) { return __gmtime64_r(when, tp); }
static struct tm* LocaltimeOf(const WideTime* when, struct tm* tp) {
  return __localtime64_r(when, tp);
}
#else
using WideTime = time_t;
static struct tm* GmtimeOf(const WideTime* when) { return gmtime(when); }
static struct tm* GmtimeROf(const WideTime* when, struct tm* tp) { return gmtime_r(when, tp); }
static struct tm* LocaltimeOf(const WideTime* when, struct tm* tp) { return localtime_r(when, tp); }
#endif

__attribute__((always_inline)) static inline char* LockedCtime(WideTime when, char* buffer,
                                                               int buffLen) {
  RecheckZone();
  OSCallLocker locker(OSStdLibMutexInUse());
  // ctime() is asctime(localtime()): the same text, from the zone as last
  // set.
  [[maybe_unused]] ZoneCall zoneCall;
  struct tm local;
  const struct tm* const converted = LocaltimeOf(&when, &local);
  if (OS_UNLIKELY(locker.Without())) return AsctimeWithoutMutex(converted, buffer, buffLen);
  return CopyText(converted != nullptr ? asctime(&local) : nullptr, buffer, buffLen);
}

__attribute__((always_inline)) static inline char* LockedAsctime(const struct tm* timeptr,
                                                                 char* buffer, int buffLen) {
  OSCallLocker locker(OSStdLibMutexInUse());
  if (OS_UNLIKELY(locker.Without())) return AsctimeWithoutMutex(timeptr, buffer, buffLen);
  return CopyText(asctime(timeptr), buffer, buffLen);
}

char* zuvo_strerror(int errnum, char* buffer, int buffLen) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  return LockedStrerror(errnum, buffer, buffLen);
}

char* zuvo_ctime(const time_t* timep, char* buffer, int buffLen) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  return LockedCtime(*timep, buffer, buffLen);
}

char* zuvo_asctime(const struct tm* timeptr, char* buffer, int buffLen) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  return LockedAsctime(timeptr, buffer, buffLen);
}

// The text copies' checks follow their guard, so buffLen is at least 1.
char* zuvo_strerror_chk(int errnum, char* buffer, int buffLen, size_t objsize) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  CheckFits(static_cast<size_t>(buffLen), objsize);
  return LockedStrerror(errnum, buffer, buffLen);
}

char* zuvo_ctime_chk(const time_t* timep, char* buffer, int buffLen, size_t objsize) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  CheckFits(static_cast<size_t>(buffLen), objsize);
  return LockedCtime(*timep, buffer, buffLen);
}

char* zuvo_asctime_chk(const struct tm* timeptr, char* buffer, int buffLen, size_t objsize) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  CheckFits(static_cast<size_t>(buffLen), objsize);
  return LockedAsctime(timeptr, buffer, buffLen);
}

// Copies the C library's broken-down time (null when it could not convert)
// into *result; the caller holds the standard-library mutex.
static struct tm* CopyTime(const struct tm* time, struct tm* result) {
  if (time == nullptr) return nullptr;
  *result = *time;
  return result;
}

// zuvo_gmtime() past the exit's bound: the reentrant call, through a copy,
// so that a failed conversion leaves *result as it was.
__attribute__((noinline, cold)) static struct tm* GmtimeWithoutMutex(WideTime when,
                                                                     struct tm* result) {
  struct tm converted;
  return CopyTime(GmtimeROf(&when, &converted), result);
}

__attribute__((always_inline)) static inline struct tm* LockedGmtime(WideTime when,
                                                                     struct tm* result) {
  OSCallLocker locker(OSStdLibMutexInUse());
  [[maybe_unused]] ZoneCall zoneCall;
  if (OS_UNLIKELY(locker.Without())) return GmtimeWithoutMutex(when, result);
  return CopyTime(GmtimeOf(&when), result);
}

// A time that localtime_r() converts without failing: its year fits an
// int with room to spare, as every 32-bit time's does. Only a conversion
// that can fail goes through a copy, so that a failed one leaves *result as
// it was, as the routine always has.
static bool ConvertsLocally(WideTime when) {
  if (sizeof(WideTime) <= 4) return true;
  // -2^55 <= when < 2^55: its bits above the 55th all equal.
  const long long high = static_cast<long long>(when) >> 55;
  return high == 0 || high == -1;
}

__attribute__((noinline)) static struct tm* LocaltimeByCopy(WideTime when, struct tm* result) {
  OSCallLocker locker(OSStdLibMutexInUse());
  [[maybe_unused]] ZoneCall zoneCall;
  struct tm local;
  return CopyTime(LocaltimeOf(&when, &local), result);
}

// The conversion, for a caller that has looked at the zone.
__attribute__((always_inline)) static inline struct tm* LocaltimeInZone(WideTime when,
                                                                        struct tm* result) {
  if (OS_UNLIKELY(!ConvertsLocally(when))) return LocaltimeByCopy(when, result);
  OSCallLocker locker(OSStdLibMutexInUse());
  [[maybe_unused]] ZoneCall zoneCall;
  return LocaltimeOf(&when, result);
}

// zuvo_localtime() when TZ moved or changed.
__attribute__((noinline, cold)) static struct tm* LocaltimeLookingAgain(WideTime when,
                                                                        struct tm* result) {
  RecheckZoneTheLongWay();
  return LocaltimeInZone(when, result);
}

// RecheckZone() and the conversion. The long look is a tail call, so that
// the common ways (TZ as recorded, set or unset) keep a frame no larger
// than the conversion's own.
__attribute__((always_inline)) static inline struct tm* LockedLocaltime(WideTime when,
                                                                        struct tm* result) {
  bool unset = false;
  if (OS_UNLIKELY(!ZoneAsRecorded(&unset))) return LocaltimeLookingAgain(when, result);
  if (unset) RecheckZoneForTheSecond();
  return LocaltimeInZone(when, result);
}

struct tm* zuvo_gmtime(const time_t* timep, struct tm* result) {
  if (result == nullptr) return nullptr;
  return LockedGmtime(*timep, result);
}

struct tm* zuvo_localtime(const time_t* timep, struct tm* result) {
  if (result == nullptr) return nullptr;
  return LockedLocaltime(*timep, result);
}

#if SAFESTDLIB_TIME64_ENTRIES
// The same four for a 64-bit time, under the names that SafeStdLib.h
// routes a host built with _TIME_BITS=64 to (SAFESTDLIB_TIME_SYMBOL): the
// same guards, check and bodies.
extern "C" {
SAFESTDLIB_API char* zuvo_ctime64(const __time64_t* timep, char* buffer, int buffLen);
SAFESTDLIB_API char* zuvo_ctime64_chk(const __time64_t* timep, char* buffer, int buffLen,
                                      size_t objsize);
SAFESTDLIB_API struct tm* zuvo_gmtime64(const __time64_t* timep, struct tm* result);
SAFESTDLIB_API struct tm* zuvo_localtime64(const __time64_t* timep, struct tm* result);
}

char* zuvo_ctime64(const __time64_t* timep, char* buffer, int buffLen) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  return LockedCtime(*timep, buffer, buffLen);
}

char* zuvo_ctime64_chk(const __time64_t* timep, char* buffer, int buffLen, size_t objsize) {
  if (!IsUsable(buffer, buffLen)) return nullptr;
  CheckFits(static_cast<size_t>(buffLen), objsize);
  return LockedCtime(*timep, buffer, buffLen);
}

struct tm* zuvo_gmtime64(const __time64_t* timep, struct tm* result) {
  if (result == nullptr) return nullptr;
  return LockedGmtime(*timep, result);
}

struct tm* zuvo_localtime64(const __time64_t* timep, struct tm* result) {
  if (result == nullptr) return nullptr;
  return LockedLocaltime(*timep, result);
}
#endif
