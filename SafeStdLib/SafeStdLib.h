/*
 * SafeStdLib.h: the C library's formatted-output, time and error-text
 * routines, made safe for many threads.
 *
 * Every routine makes its C library call while holding the standard-library
 * mutex (OS::GetStdLibMutex()), and copies any result that the C library
 * keeps in its own static storage into the caller's storage before letting
 * go. The mutex is recursive: a thread that holds it may call any routine.
 * Each routine blocks only while another thread holds the mutex. None
 * allocates memory itself, throws or logs, though its C library call may
 * allocate (glibc's strerror does for a number it has no text for), and
 * errno afterwards is what the C library call left.
 * Only the printers can be cancelled: a thread cancelled, or calling
 * pthread_exit(), inside one gives back the print's levels of the mutex and
 * of the stream exactly once, without unwinding through the C library.
 *
 * Lock order: the standard-library mutex, then a stream's own lock. The
 * printers to a stream (zuvo_printf, zuvo_fprintf, zuvo_maxprintf) never
 * wait for the stream while holding the mutex, so a host thread that holds
 * a stream (flockfile) may call any routine. A caller that already holds
 * the mutex and prints to a stream that another thread holds waits for it
 * holding the mutex: host code must not hold a stream while it waits for
 * a thread that holds the mutex.
 *
 * A print blocked on a full pipe or a slow terminal holds the mutex: every
 * routine, on every thread, waits until it is done.
 *
 * Not async-signal-safe: a signal handler must not call these routines (it
 * deadlocks if it interrupts its own thread inside one, or between taking
 * the mutex and recording itself as holder). Not async-cancel-safe: a
 * thread must not be cancelled with PTHREAD_CANCEL_ASYNCHRONOUS while it is
 * inside one.
 *
 * The routines of C linkage, their v-forms and their checked entries are
 * valid C99; the capped console printer's routines are C++ (their symbols
 * are mangled). A host built with _FORTIFY_SOURCE calls the routines through
 * SafeStdLibFortify.h, included at the end.
 */
#ifndef SafeStdLib_H
#define SafeStdLib_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <time.h>

#include "OSHeaders.h"
#include "SafeStdLibVersion.h"

#if defined(__GNUC__)
#  define SAFESTDLIB_PRINTF_FORMAT(fmtIndex, firstArg) \
    __attribute__((format(printf, fmtIndex, firstArg)))
#  define SAFESTDLIB_STRFTIME_FORMAT(fmtIndex) __attribute__((format(strftime, fmtIndex, 0)))
#else
#  define SAFESTDLIB_PRINTF_FORMAT(fmtIndex, firstArg)
#  define SAFESTDLIB_STRFTIME_FORMAT(fmtIndex)
#endif

/* ---- The width of a time. On glibc 2.34 and later, a target whose time_t
 * has 32 bits (i686, armhf) gives a host built with -D_TIME_BITS=64
 * -D_FILE_OFFSET_BITS=64 a 64-bit time_t. There the library exports each
 * routine that takes a time twice, whatever the library itself was built
 * with: under the routine's name for a 32-bit time, and with "64" after the
 * name (zuvo_gmtime64, zuvo_ctime64_chk) for a 64-bit one. A host reaches
 * the one for its own time_t under the routine's name, as glibc's
 * time/time.h routes localtime to __localtime64. SAFESTDLIB_TIME64_ENTRIES
 * is 1 on such a target, 0 elsewhere (one symbol each).
 * SAFESTDLIB_TIME_SYMBOL(zuvo_ctime) is the symbol, as a string for an asm
 * label, that a time routine has for this host's time_t (a checked entry's
 * is that with "_chk" after it). */
#if defined(__GLIBC__) && !defined(__UCLIBC__) && defined(__TIMESIZE) && __TIMESIZE == 32 && \
    (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
#  define SAFESTDLIB_TIME64_ENTRIES 1
#else
#  define SAFESTDLIB_TIME64_ENTRIES 0
#endif
#define SAFESTDLIB_LABEL_PREFIX_(prefix) #prefix
#define SAFESTDLIB_SYMBOL_(prefix, name) SAFESTDLIB_LABEL_PREFIX_(prefix) #name
#if SAFESTDLIB_TIME64_ENTRIES && defined(__USE_TIME_BITS64)
#  if !defined(__GNUC__)
#    error "SafeStdLib.h: a host built with _TIME_BITS=64 needs a compiler that takes asm labels"
#  endif
#  define SAFESTDLIB_TIME_SYMBOL(name) SAFESTDLIB_SYMBOL_(__USER_LABEL_PREFIX__, name) "64"
#  define SAFESTDLIB_TIME_LABEL(name, after) __asm__(SAFESTDLIB_TIME_SYMBOL(name) after)
#else
#  define SAFESTDLIB_TIME_SYMBOL(name) SAFESTDLIB_SYMBOL_(__USER_LABEL_PREFIX__, name)
#  define SAFESTDLIB_TIME_LABEL(name, after)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Locked formatted output. Nothing here counts toward the output
 * limit of zuvo_maxprintf. Each returns the C library's result unchanged
 * (a negative value on an output failure). */

/* zuvo_printf: printf to standard output. -1 if fmt is null. */
SAFESTDLIB_API int zuvo_printf(const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(1, 2);

/* zuvo_sprintf: sprintf into buffer, without a bound: the caller supplies
 * room for the whole text and its terminator. -1 if buffer is null. */
SAFESTDLIB_API int zuvo_sprintf(char* buffer, const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(2, 3);

/* zuvo_fprintf: fprintf to file. -1 if file is null. */
SAFESTDLIB_API int zuvo_fprintf(FILE* file, const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(2, 3);

/* zuvo_snprintf: snprintf into str, at most size bytes with the terminator.
 * Returns the length of the whole text, even when it was cut; -1 if str is
 * null, whatever size is: unlike snprintf, zuvo_snprintf(NULL, 0, ...) does
 * not measure the text. */
SAFESTDLIB_API int zuvo_snprintf(char* str, size_t size, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(3, 4);

/* The v-forms, for a host's own variadic functions (a logging function
 * that adds a timestamp, say): each takes the arguments as a va_list, which
 * it consumes as vprintf does, and otherwise behaves exactly as its twin
 * above: the same null guard and result, the same locks in the same order,
 * the same cancellation. Mark the host's function
 * __attribute__((format(printf, n, m))) so that -Wformat checks its
 * callers. */

/* zuvo_vprintf: zuvo_printf with a va_list. -1 if fmt is null. */
SAFESTDLIB_API int zuvo_vprintf(const char* fmt, va_list args) SAFESTDLIB_PRINTF_FORMAT(1, 0);

/* zuvo_vsprintf: zuvo_sprintf with a va_list, without a bound. -1 if buffer
 * is null. */
SAFESTDLIB_API int zuvo_vsprintf(char* buffer, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(2, 0);

/* zuvo_vfprintf: zuvo_fprintf with a va_list. -1 if file is null. */
SAFESTDLIB_API int zuvo_vfprintf(FILE* file, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(2, 0);

/* zuvo_vsnprintf: zuvo_snprintf with a va_list: at most size bytes with the
 * terminator; the length of the whole text; -1 if str is null. */
SAFESTDLIB_API int zuvo_vsnprintf(char* str, size_t size, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(3, 0);

/* ---- Locked time and error text. */

/* zuvo_strftime: strftime into buf. Returns the number of characters placed
 * in buf; 0 when the text did not fit, and buf then holds an empty string
 * (if maxsize is at least 1); 0 at once if buf is null. */
SAFESTDLIB_API size_t zuvo_strftime(char* buf, size_t maxsize, const char* format,
                                    const struct tm* timeptr) SAFESTDLIB_STRFTIME_FORMAT(3);

/* The text copies: zuvo_strerror, zuvo_ctime and zuvo_asctime.
 *
 * Copy the C library's text into buffer, buffLen bytes in all: a longer text
 * is cut to buffLen - 1 characters, a shorter one is followed by zero bytes
 * up to buffLen, and buffer always ends terminated, so buffLen must be the
 * buffer's true size. ctime and asctime texts keep their newline; 26 bytes
 * hold them whole for years of four digits (a later year needs more).
 * Return buffer.
 * Return NULL, writing nothing, if buffer is null or buffLen is below 1.
 * Return NULL, leaving an empty string, if the C library cannot convert the
 * time. */
SAFESTDLIB_API char* zuvo_strerror(int errnum, char* buffer, int buffLen);
SAFESTDLIB_API char* zuvo_ctime(const time_t* timep, char* buffer, int buffLen)
    SAFESTDLIB_TIME_LABEL(zuvo_ctime, "");
SAFESTDLIB_API char* zuvo_asctime(const struct tm* timeptr, char* buffer, int buffLen);

/* The structure copies: zuvo_gmtime and zuvo_localtime.
 *
 * Copy the whole broken-down time, tm_gmtoff and tm_zone included (tm_zone
 * points at the C library's zone name), into *result and return result.
 * Return NULL, writing nothing, if result is null or the C library cannot
 * convert the time. */
SAFESTDLIB_API struct tm* zuvo_gmtime(const time_t* timep, struct tm* result)
    SAFESTDLIB_TIME_LABEL(zuvo_gmtime, "");
SAFESTDLIB_API struct tm* zuvo_localtime(const time_t* timep, struct tm* result)
    SAFESTDLIB_TIME_LABEL(zuvo_localtime, "");

/* ---- Checked entries, for hosts built with _FORTIFY_SOURCE.
 *
 * Each is the plain routine of its name, less "_chk", with one more
 * argument, objsize: the size the compiler knows for the caller's buffer.
 * Each applies the plain routine's guard first (a null buffer, or buffLen
 * below 1, returns the guard value at once, writing nothing and taking no
 * lock), then its check, and then does exactly what the plain routine
 * does: the same lock, blocking only while another thread holds it, the
 * same truncation and the same result. A check that fails ends the process
 * as glibc's own checks do: "*** buffer overflow detected ***" on standard
 * error, then SIGABRT (glibc's __chk_fail(); on another C library the same
 * words and abort()), holding no level of the mutex of its own (a caller's
 * own levels stay held) and having written nothing past objsize. Hosts
 * do not name them: under _FORTIFY_SOURCE, SafeStdLibFortify.h routes the
 * plain routines' calls here. */

/* Fails, before taking the lock, if size > objsize; else zuvo_snprintf. */
SAFESTDLIB_API int zuvo_snprintf_chk(char* str, size_t size, size_t objsize, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(4, 5);
/* Fails, before taking the lock, if size > objsize; else zuvo_vsnprintf. */
SAFESTDLIB_API int zuvo_vsnprintf_chk(char* str, size_t size, size_t objsize, const char* fmt,
                                      va_list args) SAFESTDLIB_PRINTF_FORMAT(4, 0);
/* zuvo_sprintf holding the lock as it does, with objsize as the bound
 * (glibc's __sprintf_chk): fails, once it has let go of the lock, if the
 * text and its terminator did not fit in objsize bytes. */
SAFESTDLIB_API int zuvo_sprintf_chk(char* buffer, size_t objsize, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(3, 4);
/* zuvo_sprintf_chk with a va_list, as zuvo_vsprintf. */
SAFESTDLIB_API int zuvo_vsprintf_chk(char* buffer, size_t objsize, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(3, 0);
/* Fails, before taking the lock, if maxsize > objsize; else zuvo_strftime. */
SAFESTDLIB_API size_t zuvo_strftime_chk(char* buf, size_t maxsize, size_t objsize,
                                        const char* format, const struct tm* timeptr)
    SAFESTDLIB_STRFTIME_FORMAT(4);
/* Fail, before taking the lock, if buffLen > objsize; else the plain text
 * copy. */
SAFESTDLIB_API char* zuvo_strerror_chk(int errnum, char* buffer, int buffLen, size_t objsize);
SAFESTDLIB_API char* zuvo_ctime_chk(const time_t* timep, char* buffer, int buffLen, size_t objsize)
    SAFESTDLIB_TIME_LABEL(zuvo_ctime, "_chk");
SAFESTDLIB_API char* zuvo_asctime_chk(const struct tm* timeptr, char* buffer, int buffLen,
                                      size_t objsize);

/* ---- Format-checked entries, for hosts built with _FORTIFY_SOURCE=2 or 3
 * against glibc, whose own printers check their formats from that level on.
 *
 * Each is the routine of its name, less "_fchk", with one more argument,
 * flag: glibc's flag, the host's fortify level less one. The buffer
 * printers take objsize too, as their _chk entries do, (size_t)-1 when the
 * compiler does not know the buffer's size. Each applies its routine's
 * guard first, then its _chk entry's size check where objsize is known, and
 * then, with flag above 0, glibc's format checks, all before taking any
 * lock: a format with a %n conversion must lie in read-only memory, and a
 * format that numbers its arguments (%N$) must name every argument up to
 * the highest one it names. It then does what its routine (or _chk entry)
 * does: the same locks, blocking only while another thread holds one, the
 * same truncation and the same result. A format check that fails ends the
 * process as glibc's own does, in the running glibc's words ("*** %n in
 * writable segment detected ***", "segments" in glibc 2.43, or "***
 * invalid %N$ use detected ***") on standard error (or the terminal), then
 * SIGABRT, holding no lock of its own and having written
 * nothing. The check of a format with %n reads /proc/self/maps, as glibc's
 * does, before the lock is taken; a format without %n or %N$ costs one
 * pass over its text. Hosts do not name them: SafeStdLibFortify.h routes
 * the printers' calls here. */

SAFESTDLIB_API int zuvo_printf_fchk(int flag, const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(2, 3);
SAFESTDLIB_API int zuvo_vprintf_fchk(int flag, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(2, 0);
SAFESTDLIB_API int zuvo_fprintf_fchk(FILE* file, int flag, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(3, 4);
SAFESTDLIB_API int zuvo_vfprintf_fchk(FILE* file, int flag, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(3, 0);
SAFESTDLIB_API int zuvo_sprintf_fchk(char* buffer, int flag, size_t objsize, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(4, 5);
SAFESTDLIB_API int zuvo_vsprintf_fchk(char* buffer, int flag, size_t objsize, const char* fmt,
                                      va_list args) SAFESTDLIB_PRINTF_FORMAT(4, 0);
SAFESTDLIB_API int zuvo_snprintf_fchk(char* str, size_t size, int flag, size_t objsize,
                                      const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(5, 6);
SAFESTDLIB_API int zuvo_vsnprintf_fchk(char* str, size_t size, int flag, size_t objsize,
                                       const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(5, 0);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus

// ---- The capped console printer.
//
// zuvo_maxprintf prints to standard output and keeps a running total of the
// characters it has printed since the process started. While that total is
// at or below the output limit (in K of 1024 characters; 100000 K at start)
// a call prints its text whole, however long. Once the total is above the
// limit, the first call prints "\nReached maximum configured output limit =
// <limit>K\n" (not counted) and every call returns -1 without printing,
// until the limit is raised to at least the total. Nothing resets the total.

// zuvo_getmaxprintfcharsinK: the output limit, in K.
SAFESTDLIB_API UInt32 zuvo_getmaxprintfcharsinK();

// zuvo_setmaxprintfcharsinK: sets the output limit, in K; every value, 0
// included, is taken. Governs the next zuvo_maxprintf call; leaves the
// running total alone.
SAFESTDLIB_API void zuvo_setmaxprintfcharsinK(UInt32 newMaxCharsInK);

// zuvo_maxprintf: printf to standard output, capped. Returns the number of
// characters printed; -1 if fmt is null or the limit has been passed; the C
// library's negative result on an output failure, which adds nothing to the
// total, except that a text too long to count (more than INT_MAX
// characters, EOVERFLOW) counts as passing the limit. Every copy of the
// library in the process shares one total and one limit.
SAFESTDLIB_API int zuvo_maxprintf(const char* fmt, ...) SAFESTDLIB_PRINTF_FORMAT(1, 2);

// zuvo_vmaxprintf: zuvo_maxprintf with a va_list, which it consumes as
// vprintf does; counts into the same total against the same limit.
SAFESTDLIB_API int zuvo_vmaxprintf(const char* fmt, va_list args) SAFESTDLIB_PRINTF_FORMAT(1, 0);

// zuvo_maxprintf_fchk, zuvo_vmaxprintf_fchk: the capped printer's
// format-checked entries, as the C routines' above.
SAFESTDLIB_API int zuvo_maxprintf_fchk(int flag, const char* fmt, ...)
    SAFESTDLIB_PRINTF_FORMAT(2, 3);
SAFESTDLIB_API int zuvo_vmaxprintf_fchk(int flag, const char* fmt, va_list args)
    SAFESTDLIB_PRINTF_FORMAT(2, 0);

#endif /* __cplusplus */

/* The fortified forms of the routines, for hosts built with
 * _FORTIFY_SOURCE, as glibc's <stdio.h> ends with <bits/stdio2.h>. */
#define SAFESTDLIB_INCLUDING_FORTIFY
#include "SafeStdLibFortify.h"
#undef SAFESTDLIB_INCLUDING_FORTIFY

#endif /* SafeStdLib_H */
