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
 * The ten C-linkage routines, their v-forms and their checked entries are
 * valid C99; the three routines of the capped console printer are C++ (their
 * symbols are mangled).
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
SAFESTDLIB_API char* zuvo_ctime(const time_t* timep, char* buffer, int buffLen);
SAFESTDLIB_API char* zuvo_asctime(const struct tm* timeptr, char* buffer, int buffLen);

/* The structure copies: zuvo_gmtime and zuvo_localtime.
 *
 * Copy the whole broken-down time, tm_gmtoff and tm_zone included (tm_zone
 * points at the C library's zone name), into *result and return result.
 * Return NULL, writing nothing, if result is null or the C library cannot
 * convert the time. */
SAFESTDLIB_API struct tm* zuvo_gmtime(const time_t* timep, struct tm* result);
SAFESTDLIB_API struct tm* zuvo_localtime(const time_t* timep, struct tm* result);

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
 * do not name them: under _FORTIFY_SOURCE the macros below route the plain
 * routines' calls here. */

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
SAFESTDLIB_API char* zuvo_ctime_chk(const time_t* timep, char* buffer, int buffLen, size_t objsize);
SAFESTDLIB_API char* zuvo_asctime_chk(const struct tm* timeptr, char* buffer, int buffLen,
                                      size_t objsize);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- _FORTIFY_SOURCE: the routines that write a caller's buffer check the
 * size they are given against the size the compiler knows for that buffer,
 * as glibc's fortified snprintf does, when the host is built with
 * _FORTIFY_SOURCE >= 1 and optimisation by a GNU compiler (level 2 and up
 * counts the enclosing member only, level 3 sizes known at run time too).
 *
 * Each routine's name is a function-like macro, so (zuvo_snprintf)(...) and
 * &zuvo_snprintf still reach the plain function. It calls an always-inline
 * helper that takes each argument once and, decided at compile time, calls
 * the plain routine when no check is needed (the compiler knows nothing of
 * the buffer, or the size is a constant that fits it: such a call costs
 * nothing) and the _chk entry otherwise. clang has no
 * __builtin_va_arg_pack to forward zuvo_snprintf's and zuvo_sprintf's
 * arguments through a helper, so there those two macros choose between the
 * two calls themselves; only one of them runs, and __builtin_object_size
 * does not evaluate its argument, so every argument is still evaluated
 * once (-Wformat reads both calls). The library's own sources
 * (SAFESTDLIB_BUILDING) define the plain routines and see none of this. */
#if defined(__GNUC__) && defined(__OPTIMIZE__) && defined(_FORTIFY_SOURCE) && \
    !defined(SAFESTDLIB_BUILDING)
#  if _FORTIFY_SOURCE > 0
#    define SAFESTDLIB_FORTIFY 1
#    if _FORTIFY_SOURCE > 2 && defined(__has_builtin)
#      if __has_builtin(__builtin_dynamic_object_size)
#        define SAFESTDLIB_OBJSIZE(p) __builtin_dynamic_object_size((p), 1)
#      endif
#    endif
#    if !defined(SAFESTDLIB_OBJSIZE) && _FORTIFY_SOURCE > 1
#      define SAFESTDLIB_OBJSIZE(p) __builtin_object_size((p), 1)
#    elif !defined(SAFESTDLIB_OBJSIZE)
#      define SAFESTDLIB_OBJSIZE(p) __builtin_object_size((p), 0)
#    endif
#  endif
#endif

#if defined(SAFESTDLIB_FORTIFY)
#  ifdef __cplusplus
#    define SAFESTDLIB_SIZE_T(n) static_cast<size_t>(n)
#  else
#    define SAFESTDLIB_SIZE_T(n) ((size_t)(n))
#  endif
/* No check needed: the buffer's size is unknown, or n is a constant that
 * fits it. */
#  define SAFESTDLIB_UNKNOWN_SIZE(p) (SAFESTDLIB_OBJSIZE(p) == ~SAFESTDLIB_SIZE_T(0))
#  define SAFESTDLIB_FITS(p, n)    \
    (SAFESTDLIB_UNKNOWN_SIZE(p) || \
     (__builtin_constant_p(n) && SAFESTDLIB_SIZE_T(n) <= SAFESTDLIB_OBJSIZE(p)))
#  define SAFESTDLIB_FORTIFY_INLINE static inline __attribute__((always_inline, artificial))

/* The helpers come before the macros, so that their calls of the plain
 * routines are not expanded. */
SAFESTDLIB_FORTIFY_INLINE SAFESTDLIB_PRINTF_FORMAT(3, 0) int safestdlib_fortify_vsnprintf(
    char* str, size_t size, const char* fmt, va_list args) {
  return SAFESTDLIB_FITS(str, size)
             ? zuvo_vsnprintf(str, size, fmt, args)
             : zuvo_vsnprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), fmt, args);
}
SAFESTDLIB_FORTIFY_INLINE SAFESTDLIB_PRINTF_FORMAT(2, 0) int safestdlib_fortify_vsprintf(
    char* buffer, const char* fmt, va_list args) {
  return SAFESTDLIB_UNKNOWN_SIZE(buffer)
             ? zuvo_vsprintf(buffer, fmt, args)
             : zuvo_vsprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), fmt, args);
}
SAFESTDLIB_FORTIFY_INLINE SAFESTDLIB_STRFTIME_FORMAT(3) size_t
    safestdlib_fortify_strftime(char* buf, size_t maxsize, const char* format,
                                const struct tm* timeptr) {
  return SAFESTDLIB_FITS(buf, maxsize)
             ? zuvo_strftime(buf, maxsize, format, timeptr)
             : zuvo_strftime_chk(buf, maxsize, SAFESTDLIB_OBJSIZE(buf), format, timeptr);
}
SAFESTDLIB_FORTIFY_INLINE char* safestdlib_fortify_strerror(int errnum, char* buffer, int buffLen) {
  return SAFESTDLIB_FITS(buffer, buffLen)
             ? zuvo_strerror(errnum, buffer, buffLen)
             : zuvo_strerror_chk(errnum, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}
SAFESTDLIB_FORTIFY_INLINE char* safestdlib_fortify_ctime(const time_t* timep, char* buffer,
                                                         int buffLen) {
  return SAFESTDLIB_FITS(buffer, buffLen)
             ? zuvo_ctime(timep, buffer, buffLen)
             : zuvo_ctime_chk(timep, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}
SAFESTDLIB_FORTIFY_INLINE char* safestdlib_fortify_asctime(const struct tm* timeptr, char* buffer,
                                                           int buffLen) {
  return SAFESTDLIB_FITS(buffer, buffLen)
             ? zuvo_asctime(timeptr, buffer, buffLen)
             : zuvo_asctime_chk(timeptr, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}
#  define zuvo_vsnprintf(str, size, fmt, args) safestdlib_fortify_vsnprintf(str, size, fmt, args)
#  define zuvo_vsprintf(buffer, fmt, args) safestdlib_fortify_vsprintf(buffer, fmt, args)
#  define zuvo_strftime(buf, maxsize, format, timeptr) \
    safestdlib_fortify_strftime(buf, maxsize, format, timeptr)
#  define zuvo_strerror(errnum, buffer, buffLen) \
    safestdlib_fortify_strerror(errnum, buffer, buffLen)
#  define zuvo_ctime(timep, buffer, buffLen) safestdlib_fortify_ctime(timep, buffer, buffLen)
#  define zuvo_asctime(timeptr, buffer, buffLen) \
    safestdlib_fortify_asctime(timeptr, buffer, buffLen)

#  if !defined(__clang__)
SAFESTDLIB_FORTIFY_INLINE SAFESTDLIB_PRINTF_FORMAT(3, 4) int safestdlib_fortify_snprintf(
    char* str, size_t size, const char* fmt, ...) {
  return SAFESTDLIB_FITS(str, size)
             ? zuvo_snprintf(str, size, fmt, __builtin_va_arg_pack())
             : zuvo_snprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), fmt, __builtin_va_arg_pack());
}
SAFESTDLIB_FORTIFY_INLINE SAFESTDLIB_PRINTF_FORMAT(2, 3) int safestdlib_fortify_sprintf(
    char* buffer, const char* fmt, ...) {
  return SAFESTDLIB_UNKNOWN_SIZE(buffer)
             ? zuvo_sprintf(buffer, fmt, __builtin_va_arg_pack())
             : zuvo_sprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), fmt, __builtin_va_arg_pack());
}
#    define zuvo_snprintf(...) safestdlib_fortify_snprintf(__VA_ARGS__)
#    define zuvo_sprintf(...) safestdlib_fortify_sprintf(__VA_ARGS__)
#  else
#    define zuvo_snprintf(str, size, ...)          \
      (SAFESTDLIB_FITS(str, size)                  \
           ? zuvo_snprintf(str, size, __VA_ARGS__) \
           : zuvo_snprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), __VA_ARGS__))
#    define zuvo_sprintf(buffer, ...)          \
      (SAFESTDLIB_UNKNOWN_SIZE(buffer)         \
           ? zuvo_sprintf(buffer, __VA_ARGS__) \
           : zuvo_sprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), __VA_ARGS__))
#  endif
#endif /* SAFESTDLIB_FORTIFY */

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

#endif /* __cplusplus */

#endif /* SafeStdLib_H */
