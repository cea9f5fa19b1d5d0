/*
 * SafeStdLibFortify.h: the routines as a host built with _FORTIFY_SOURCE
 * calls them. SafeStdLib.h includes it at its end, as glibc's <stdio.h>
 * ends with <bits/stdio2.h>; hosts never include it themselves.
 *
 * A host built with _FORTIFY_SOURCE >= 1 and optimisation by g++, gcc,
 * clang++ or clang (clang needs overloadable, pass_object_size and
 * diagnose_if) calls, for each routine that writes a caller's buffer, an
 * inline function of the routine's own name, glibc's __fortify_function:
 * it checks the size it is given against the size the compiler knows for
 * the buffer and, chosen at compile time, calls the plain routine (the
 * buffer's size is unknown, or the size is known to fit: such a call costs
 * nothing), the routine's _chk entry, or, where the size is known not to
 * fit, the _chk entry through a name that warns at compile time. From level
 * 2 on, against glibc, every printer (zuvo_printf, zuvo_fprintf,
 * zuvo_sprintf, zuvo_snprintf, their v-forms, and the capped printer in
 * C++) goes to its _fchk entry with glibc's flag, the level less one,
 * whether or not the buffer's size is known, as glibc's printers go to
 * __printf_chk & co. The levels follow glibc's <features.h>: 2 counts the
 * enclosing member only, 3 takes sizes known at run time too (with
 * __builtin_dynamic_object_size; without it, 3 is 2).
 *
 * Each function takes each argument once, so the routine's name behaves as
 * a function in every respect: a redeclaration, a member or a using-
 * declaration of the same name, a qualified call, a host's own overload and
 * any argument text are all as without _FORTIFY_SOURCE; &zuvo_snprintf is
 * the plain routine. g++ and gcc define the functions extern inline with
 * gnu_inline, so no copy of them is ever emitted, and reach the plain
 * routine through an asm label (glibc's __REDIRECT). clang has the same
 * functions as overloads whose buffer parameter carries pass_object_size,
 * and warns with diagnose_if. clang has no __builtin_va_arg_pack to pass
 * on the arguments of a variadic routine, so in C++ each of those is a
 * static function that calls the routine's v-form (a call of its own), and
 * in C a function-like macro, as glibc keeps one there: only there does a
 * member named like zuvo_snprintf meet the macro. The library's own sources
 * (SAFESTDLIB_BUILDING) see none of this.
 */
#ifndef SafeStdLibFortify_H
#define SafeStdLibFortify_H

#if !defined(SAFESTDLIB_INCLUDING_FORTIFY)
#  error "SafeStdLibFortify.h is part of SafeStdLib.h: include <SafeStdLib/SafeStdLib.h> instead"
#endif

/* ---- The host's fortify level, by glibc's rules. */
#if defined(__GNUC__) && defined(__OPTIMIZE__) && defined(_FORTIFY_SOURCE) && \
    !defined(SAFESTDLIB_BUILDING)
#  if _FORTIFY_SOURCE > 2 && defined(__has_builtin)
#    if __has_builtin(__builtin_dynamic_object_size)
#      define SAFESTDLIB_FORTIFY_LEVEL 3
#    endif
#  endif
#  if !defined(SAFESTDLIB_FORTIFY_LEVEL) && _FORTIFY_SOURCE > 1
#    define SAFESTDLIB_FORTIFY_LEVEL 2
#  elif !defined(SAFESTDLIB_FORTIFY_LEVEL) && _FORTIFY_SOURCE > 0
#    define SAFESTDLIB_FORTIFY_LEVEL 1
#  endif
#endif
#if defined(SAFESTDLIB_FORTIFY_LEVEL) && defined(__clang__)
#  if !__has_attribute(overloadable) || !__has_attribute(pass_object_size) || \
      !__has_attribute(diagnose_if)
#    undef SAFESTDLIB_FORTIFY_LEVEL
#  else
#    define SAFESTDLIB_FORTIFY_CLANG 1
#  endif
#endif
/* glibc's printers check their formats from level 2 on; the flag is the
 * level less one. */
#if defined(SAFESTDLIB_FORTIFY_LEVEL) && defined(__GLIBC__) && !defined(__UCLIBC__)
#  if SAFESTDLIB_FORTIFY_LEVEL > 1
#    define SAFESTDLIB_FORTIFY_FORMAT (SAFESTDLIB_FORTIFY_LEVEL - 1)
#  endif
#endif

#if defined(SAFESTDLIB_FORTIFY_LEVEL)

/* diagnose_if and overloadable are clang's own: no cause for -Wgcc-compat
 * in a header that gives them to clang alone. */
#  if defined(SAFESTDLIB_FORTIFY_CLANG)
#    pragma clang diagnostic push
#    pragma clang diagnostic ignored "-Wgcc-compat"
#  endif

/* The size of the object a pointer points into, as far as the compiler
 * knows it, and the same passed by a clang caller. */
#  if SAFESTDLIB_FORTIFY_LEVEL == 3
#    define SAFESTDLIB_OBJSIZE(p) __builtin_dynamic_object_size((p), 1)
#    define SAFESTDLIB_PASS_OBJSIZE __attribute__((__pass_dynamic_object_size__(1)))
#    define SAFESTDLIB_STATIC_OBJSIZE(p) __builtin_object_size((p), 1)
#  elif SAFESTDLIB_FORTIFY_LEVEL == 2
#    define SAFESTDLIB_OBJSIZE(p) __builtin_object_size((p), 1)
#    define SAFESTDLIB_PASS_OBJSIZE __attribute__((__pass_object_size__(1)))
#    define SAFESTDLIB_STATIC_OBJSIZE(p) __builtin_object_size((p), 1)
#  else
#    define SAFESTDLIB_OBJSIZE(p) __builtin_object_size((p), 0)
#    define SAFESTDLIB_PASS_OBJSIZE __attribute__((__pass_object_size__(0)))
#    define SAFESTDLIB_STATIC_OBJSIZE(p) __builtin_object_size((p), 0)
#  endif

#  ifdef __cplusplus
#    define SAFESTDLIB_SIZE_T(n) static_cast<size_t>(n)
#  else
#    define SAFESTDLIB_SIZE_T(n) ((size_t)(n))
#  endif
/* Decided at compile time (glibc's __glibc_safe_or_unknown_len and
 * __glibc_unsafe_len): no check is needed, because the buffer's size is
 * unknown or n is known to fit it; n is known not to fit. */
#  if defined(__clang__)
/* clang knows the buffer's size only once the call is inlined, after
 * __builtin_constant_p has been decided: only n's constancy is asked. */
#    define SAFESTDLIB_UNKNOWN_SIZE(objsize) ((objsize) == ~SAFESTDLIB_SIZE_T(0))
#    define SAFESTDLIB_NO_CHECK(n, objsize) \
      (SAFESTDLIB_UNKNOWN_SIZE(objsize) || (__builtin_constant_p(n) && (n) <= (objsize)))
#  else
#    define SAFESTDLIB_UNKNOWN_SIZE(objsize) \
      (__builtin_constant_p(objsize) && (objsize) == ~SAFESTDLIB_SIZE_T(0))
#    define SAFESTDLIB_NO_CHECK(n, objsize) \
      (SAFESTDLIB_UNKNOWN_SIZE(objsize) ||  \
       (__builtin_constant_p((n) <= (objsize)) && (n) <= (objsize)))
#  endif
#  define SAFESTDLIB_KNOWN_TOO_BIG(n, objsize) \
    (__builtin_constant_p((n) <= (objsize)) && !((n) <= (objsize)))

/* The declaration's symbol is target's: glibc's __REDIRECT. */
#  define SAFESTDLIB_REDIRECT(target) __asm__(SAFESTDLIB_SYMBOL_(__USER_LABEL_PREFIX__, target))

#  if defined(__has_attribute)
#    if __has_attribute(__artificial__)
#      define SAFESTDLIB_ARTIFICIAL __attribute__((__artificial__))
#    endif
#  endif
#  if !defined(SAFESTDLIB_ARTIFICIAL)
#    define SAFESTDLIB_ARTIFICIAL
#  endif
/* glibc's __fortify_function: inlined into every call, never emitted. */
#  define SAFESTDLIB_FORTIFY_FUNCTION \
    extern __inline __attribute__((__always_inline__, __gnu_inline__)) SAFESTDLIB_ARTIFICIAL

#  define SAFESTDLIB_TOO_BIG_TEXT "called with bigger size than length of destination buffer"

#  if defined(SAFESTDLIB_FORTIFY_CLANG)
/* A clang overload of the routine, preferred to it: its buffer parameter
 * brings the caller's knowledge of the buffer's size. */
#    define SAFESTDLIB_FORTIFIED SAFESTDLIB_FORTIFY_FUNCTION __attribute__((__overloadable__))
#    define SAFESTDLIB_BUFFER(type, name) type const SAFESTDLIB_PASS_OBJSIZE name
/* A call whose size is known not to fit: a warning where the call is. */
#    define SAFESTDLIB_WARN_IF_TOO_BIG(n, buffer, routine)                                         \
      __attribute__((__diagnose_if__(SAFESTDLIB_STATIC_OBJSIZE(buffer) != ~SAFESTDLIB_SIZE_T(0) && \
                                         (n) > SAFESTDLIB_STATIC_OBJSIZE(buffer),                  \
                                     #routine " " SAFESTDLIB_TOO_BIG_TEXT, "warning")))
#    define SAFESTDLIB_WARNING_CALL(entry) entry
#  else
#    define SAFESTDLIB_FORTIFIED SAFESTDLIB_FORTIFY_FUNCTION
#    define SAFESTDLIB_BUFFER(type, name) type name
#    define SAFESTDLIB_WARN_IF_TOO_BIG(n, buffer, routine)
/* The same entry through a name that warns, at compile time, wherever a
 * call of it is left after optimisation: glibc's _chk_warn. */
#    define SAFESTDLIB_WARNING_CALL(entry) safestdlib_##entry##_warn
#  endif

/* ---- The aliases of zuvo_ctime and zuvo_ctime_chk name the entries for
 * the host's time_t (SAFESTDLIB_TIME_SYMBOL: zuvo_ctime64 for a host built
 * with _TIME_BITS=64 on a 32-bit target); zuvo_gmtime and zuvo_localtime
 * have no alias here. */
#  define SAFESTDLIB_CTIME_REDIRECT __asm__(SAFESTDLIB_TIME_SYMBOL(zuvo_ctime))
#  define SAFESTDLIB_CTIME_CHK_REDIRECT __asm__(SAFESTDLIB_TIME_SYMBOL(zuvo_ctime) "_chk")

#  ifdef __cplusplus
extern "C" {
#  endif

/* ---- The plain routines and the warning names of the entries, by their
 * symbols. */
extern int safestdlib_zuvo_sprintf_alias(char* buffer, const char* fmt, ...)
    SAFESTDLIB_REDIRECT(zuvo_sprintf);
extern int safestdlib_zuvo_vsprintf_alias(char* buffer, const char* fmt, va_list args)
    SAFESTDLIB_REDIRECT(zuvo_vsprintf);
extern int safestdlib_zuvo_snprintf_alias(char* str, size_t size, const char* fmt, ...)
    SAFESTDLIB_REDIRECT(zuvo_snprintf);
extern int safestdlib_zuvo_vsnprintf_alias(char* str, size_t size, const char* fmt, va_list args)
    SAFESTDLIB_REDIRECT(zuvo_vsnprintf);
extern size_t safestdlib_zuvo_strftime_alias(char* buf, size_t maxsize, const char* format,
                                             const struct tm* timeptr)
    SAFESTDLIB_REDIRECT(zuvo_strftime);
extern char* safestdlib_zuvo_strerror_alias(int errnum, char* buffer, int buffLen)
    SAFESTDLIB_REDIRECT(zuvo_strerror);
extern char* safestdlib_zuvo_ctime_alias(const time_t* timep, char* buffer,
                                         int buffLen) SAFESTDLIB_CTIME_REDIRECT;
extern char* safestdlib_zuvo_asctime_alias(const struct tm* timeptr, char* buffer, int buffLen)
    SAFESTDLIB_REDIRECT(zuvo_asctime);

#  if !defined(SAFESTDLIB_FORTIFY_CLANG)
#    define SAFESTDLIB_WARNS(routine) \
      __attribute__((__warning__(#routine " " SAFESTDLIB_TOO_BIG_TEXT)))
extern int safestdlib_zuvo_snprintf_chk_warn(char* str, size_t size, size_t objsize,
                                             const char* fmt, ...)
    SAFESTDLIB_REDIRECT(zuvo_snprintf_chk) SAFESTDLIB_WARNS(zuvo_snprintf);
extern int safestdlib_zuvo_vsnprintf_chk_warn(char* str, size_t size, size_t objsize,
                                              const char* fmt, va_list args)
    SAFESTDLIB_REDIRECT(zuvo_vsnprintf_chk) SAFESTDLIB_WARNS(zuvo_vsnprintf);
extern int safestdlib_zuvo_snprintf_fchk_warn(char* str, size_t size, int flag, size_t objsize,
                                              const char* fmt, ...)
    SAFESTDLIB_REDIRECT(zuvo_snprintf_fchk) SAFESTDLIB_WARNS(zuvo_snprintf);
extern int safestdlib_zuvo_vsnprintf_fchk_warn(char* str, size_t size, int flag, size_t objsize,
                                               const char* fmt, va_list args)
    SAFESTDLIB_REDIRECT(zuvo_vsnprintf_fchk) SAFESTDLIB_WARNS(zuvo_vsnprintf);
extern size_t safestdlib_zuvo_strftime_chk_warn(char* buf, size_t maxsize, size_t objsize,
                                                const char* format, const struct tm* timeptr)
    SAFESTDLIB_REDIRECT(zuvo_strftime_chk) SAFESTDLIB_WARNS(zuvo_strftime);
extern char* safestdlib_zuvo_strerror_chk_warn(int errnum, char* buffer, int buffLen,
                                               size_t objsize)
    SAFESTDLIB_REDIRECT(zuvo_strerror_chk) SAFESTDLIB_WARNS(zuvo_strerror);
extern char* safestdlib_zuvo_ctime_chk_warn(const time_t* timep, char* buffer, int buffLen,
                                            size_t objsize) SAFESTDLIB_CTIME_CHK_REDIRECT
    SAFESTDLIB_WARNS(zuvo_ctime);
extern char* safestdlib_zuvo_asctime_chk_warn(const struct tm* timeptr, char* buffer, int buffLen,
                                              size_t objsize) SAFESTDLIB_REDIRECT(zuvo_asctime_chk)
    SAFESTDLIB_WARNS(zuvo_asctime);
#    undef SAFESTDLIB_WARNS
#  else
/* clang warns at a macro's call of an entry whose size argument is known
 * not to fit. */
extern int zuvo_snprintf_chk(char* str, size_t size, size_t objsize, const char* fmt, ...)
    __attribute__((__diagnose_if__(objsize != ~SAFESTDLIB_SIZE_T(0) && size > objsize,
                                   "zuvo_snprintf " SAFESTDLIB_TOO_BIG_TEXT, "warning")));
extern int zuvo_snprintf_fchk(char* str, size_t size, int flag, size_t objsize, const char* fmt,
                              ...)
    __attribute__((__diagnose_if__(objsize != ~SAFESTDLIB_SIZE_T(0) && size > objsize,
                                   "zuvo_snprintf " SAFESTDLIB_TOO_BIG_TEXT, "warning")));
#  endif

/* A text copy's int size, for the checks: the plain routine writes nothing
 * for one below 1, so none needs a check. */
#  define SAFESTDLIB_TEXT_SIZE(buffLen) ((buffLen) > 0 ? SAFESTDLIB_SIZE_T(buffLen) : 0)

/* ---- The routines with a size: each checked against the buffer's. */

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(3,
                                              0) int zuvo_vsnprintf(SAFESTDLIB_BUFFER(char*, str),
                                                                    size_t size, const char* fmt,
                                                                    va_list args)
    SAFESTDLIB_WARN_IF_TOO_BIG(size, str, zuvo_vsnprintf) {
#  if defined(SAFESTDLIB_FORTIFY_FORMAT)
  return SAFESTDLIB_KNOWN_TOO_BIG(size, SAFESTDLIB_OBJSIZE(str))
             ? SAFESTDLIB_WARNING_CALL(zuvo_vsnprintf_fchk)(str, size, SAFESTDLIB_FORTIFY_FORMAT,
                                                            SAFESTDLIB_OBJSIZE(str), fmt, args)
             : zuvo_vsnprintf_fchk(str, size, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(str),
                                   fmt, args);
#  else
  if (SAFESTDLIB_NO_CHECK(size, SAFESTDLIB_OBJSIZE(str)))
    return safestdlib_zuvo_vsnprintf_alias(str, size, fmt, args);
  return SAFESTDLIB_KNOWN_TOO_BIG(size, SAFESTDLIB_OBJSIZE(str))
             ? SAFESTDLIB_WARNING_CALL(zuvo_vsnprintf_chk)(str, size, SAFESTDLIB_OBJSIZE(str), fmt,
                                                           args)
             : zuvo_vsnprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), fmt, args);
#  endif
}

SAFESTDLIB_FORTIFIED SAFESTDLIB_STRFTIME_FORMAT(3) size_t
    zuvo_strftime(SAFESTDLIB_BUFFER(char*, buf), size_t maxsize, const char* format,
                  const struct tm* timeptr)
        SAFESTDLIB_WARN_IF_TOO_BIG(maxsize, buf, zuvo_strftime) {
  if (SAFESTDLIB_NO_CHECK(maxsize, SAFESTDLIB_OBJSIZE(buf)))
    return safestdlib_zuvo_strftime_alias(buf, maxsize, format, timeptr);
  return SAFESTDLIB_KNOWN_TOO_BIG(maxsize, SAFESTDLIB_OBJSIZE(buf))
             ? SAFESTDLIB_WARNING_CALL(zuvo_strftime_chk)(buf, maxsize, SAFESTDLIB_OBJSIZE(buf),
                                                          format, timeptr)
             : zuvo_strftime_chk(buf, maxsize, SAFESTDLIB_OBJSIZE(buf), format, timeptr);
}

SAFESTDLIB_FORTIFIED char* zuvo_strerror(int errnum, SAFESTDLIB_BUFFER(char*, buffer), int buffLen)
    SAFESTDLIB_WARN_IF_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), buffer, zuvo_strerror) {
  if (SAFESTDLIB_NO_CHECK(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer)))
    return safestdlib_zuvo_strerror_alias(errnum, buffer, buffLen);
  return SAFESTDLIB_KNOWN_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer))
             ? SAFESTDLIB_WARNING_CALL(zuvo_strerror_chk)(errnum, buffer, buffLen,
                                                          SAFESTDLIB_OBJSIZE(buffer))
             : zuvo_strerror_chk(errnum, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}

SAFESTDLIB_FORTIFIED char* zuvo_ctime(const time_t* timep, SAFESTDLIB_BUFFER(char*, buffer),
                                      int buffLen)
    SAFESTDLIB_WARN_IF_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), buffer, zuvo_ctime) {
  if (SAFESTDLIB_NO_CHECK(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer)))
    return safestdlib_zuvo_ctime_alias(timep, buffer, buffLen);
  return SAFESTDLIB_KNOWN_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer))
             ? SAFESTDLIB_WARNING_CALL(zuvo_ctime_chk)(timep, buffer, buffLen,
                                                       SAFESTDLIB_OBJSIZE(buffer))
             : zuvo_ctime_chk(timep, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}

SAFESTDLIB_FORTIFIED char* zuvo_asctime(const struct tm* timeptr, SAFESTDLIB_BUFFER(char*, buffer),
                                        int buffLen)
    SAFESTDLIB_WARN_IF_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), buffer, zuvo_asctime) {
  if (SAFESTDLIB_NO_CHECK(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer)))
    return safestdlib_zuvo_asctime_alias(timeptr, buffer, buffLen);
  return SAFESTDLIB_KNOWN_TOO_BIG(SAFESTDLIB_TEXT_SIZE(buffLen), SAFESTDLIB_OBJSIZE(buffer))
             ? SAFESTDLIB_WARNING_CALL(zuvo_asctime_chk)(timeptr, buffer, buffLen,
                                                         SAFESTDLIB_OBJSIZE(buffer))
             : zuvo_asctime_chk(timeptr, buffer, buffLen, SAFESTDLIB_OBJSIZE(buffer));
}

/* ---- The unbounded printer: checked wherever the buffer's size is known;
 * its check fails once the text has been printed with that size as the
 * bound. */

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(2,
                                              0) int zuvo_vsprintf(SAFESTDLIB_BUFFER(char*, buffer),
                                                                   const char* fmt, va_list args) {
#  if defined(SAFESTDLIB_FORTIFY_FORMAT)
  return zuvo_vsprintf_fchk(buffer, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(buffer), fmt,
                            args);
#  else
  if (SAFESTDLIB_UNKNOWN_SIZE(SAFESTDLIB_OBJSIZE(buffer)))
    return safestdlib_zuvo_vsprintf_alias(buffer, fmt, args);
  return zuvo_vsprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), fmt, args);
#  endif
}

/* ---- The printers to a stream: format-checked from level 2 on. */

#  if defined(SAFESTDLIB_FORTIFY_FORMAT)
SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(1, 0) int zuvo_vprintf(SAFESTDLIB_BUFFER(const char*,
                                                                                       fmt),
                                                                     va_list args) {
  return zuvo_vprintf_fchk(SAFESTDLIB_FORTIFY_FORMAT, fmt, args);
}

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(2,
                                              0) int zuvo_vfprintf(SAFESTDLIB_BUFFER(FILE*, file),
                                                                   const char* fmt, va_list args) {
  return zuvo_vfprintf_fchk(file, SAFESTDLIB_FORTIFY_FORMAT, fmt, args);
}
#  endif

/* ---- The variadic printers. */

#  if !defined(SAFESTDLIB_FORTIFY_CLANG)

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(3, 4) int zuvo_snprintf(char* str, size_t size,
                                                                      const char* fmt, ...) {
#    if defined(SAFESTDLIB_FORTIFY_FORMAT)
  return SAFESTDLIB_KNOWN_TOO_BIG(size, SAFESTDLIB_OBJSIZE(str))
             ? safestdlib_zuvo_snprintf_fchk_warn(str, size, SAFESTDLIB_FORTIFY_FORMAT,
                                                  SAFESTDLIB_OBJSIZE(str), fmt,
                                                  __builtin_va_arg_pack())
             : zuvo_snprintf_fchk(str, size, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(str),
                                  fmt, __builtin_va_arg_pack());
#    else
  if (SAFESTDLIB_NO_CHECK(size, SAFESTDLIB_OBJSIZE(str)))
    return safestdlib_zuvo_snprintf_alias(str, size, fmt, __builtin_va_arg_pack());
  return SAFESTDLIB_KNOWN_TOO_BIG(size, SAFESTDLIB_OBJSIZE(str))
             ? safestdlib_zuvo_snprintf_chk_warn(str, size, SAFESTDLIB_OBJSIZE(str), fmt,
                                                 __builtin_va_arg_pack())
             : zuvo_snprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), fmt, __builtin_va_arg_pack());
#    endif
}

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(2, 3) int zuvo_sprintf(char* buffer, const char* fmt,
                                                                     ...) {
#    if defined(SAFESTDLIB_FORTIFY_FORMAT)
  return zuvo_sprintf_fchk(buffer, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(buffer), fmt,
                           __builtin_va_arg_pack());
#    else
  if (SAFESTDLIB_UNKNOWN_SIZE(SAFESTDLIB_OBJSIZE(buffer)))
    return safestdlib_zuvo_sprintf_alias(buffer, fmt, __builtin_va_arg_pack());
  return zuvo_sprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), fmt, __builtin_va_arg_pack());
#    endif
}

#    if defined(SAFESTDLIB_FORTIFY_FORMAT)
SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(1, 2) int zuvo_printf(const char* fmt, ...) {
  return zuvo_printf_fchk(SAFESTDLIB_FORTIFY_FORMAT, fmt, __builtin_va_arg_pack());
}

SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(2, 3) int zuvo_fprintf(FILE* file, const char* fmt,
                                                                     ...) {
  return zuvo_fprintf_fchk(file, SAFESTDLIB_FORTIFY_FORMAT, fmt, __builtin_va_arg_pack());
}
#    endif

#  elif defined(__cplusplus)

/* clang++: static functions, one copy in each translation unit that calls
 * them (glibc's __fortify_function_error_function), each calling the
 * routine's fortified v-form. */
#    define SAFESTDLIB_FORTIFIED_VARIADIC static __attribute__((__unused__, __overloadable__))
#    define SAFESTDLIB_PASS_ON(call, last) \
      va_list args;                        \
      va_start(args, last);                \
      const int passedOnResult = call;     \
      va_end(args);                        \
      return passedOnResult

SAFESTDLIB_FORTIFIED_VARIADIC SAFESTDLIB_PRINTF_FORMAT(3, 4) int zuvo_snprintf(
    SAFESTDLIB_BUFFER(char*, str), size_t size, const char* fmt, ...)
    SAFESTDLIB_WARN_IF_TOO_BIG(size, str, zuvo_snprintf) {
  SAFESTDLIB_PASS_ON(zuvo_vsnprintf(str, size, fmt, args), fmt);
}

SAFESTDLIB_FORTIFIED_VARIADIC SAFESTDLIB_PRINTF_FORMAT(2, 3) int zuvo_sprintf(
    SAFESTDLIB_BUFFER(char*, buffer), const char* fmt, ...) {
  SAFESTDLIB_PASS_ON(zuvo_vsprintf(buffer, fmt, args), fmt);
}

#    if defined(SAFESTDLIB_FORTIFY_FORMAT)
SAFESTDLIB_FORTIFIED_VARIADIC SAFESTDLIB_PRINTF_FORMAT(1, 2) int zuvo_printf(
    SAFESTDLIB_BUFFER(const char*, fmt), ...) {
  SAFESTDLIB_PASS_ON(zuvo_vprintf(fmt, args), fmt);
}

SAFESTDLIB_FORTIFIED_VARIADIC SAFESTDLIB_PRINTF_FORMAT(2, 3) int zuvo_fprintf(
    SAFESTDLIB_BUFFER(FILE*, file), const char* fmt, ...) {
  SAFESTDLIB_PASS_ON(zuvo_vfprintf(file, fmt, args), fmt);
}
#    endif

#  else

/* clang, C: macros, which take each argument once. */
#    if defined(SAFESTDLIB_FORTIFY_FORMAT)
#      define zuvo_snprintf(str, size, ...)                                               \
        zuvo_snprintf_fchk(str, size, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(str), \
                           __VA_ARGS__)
#      define zuvo_sprintf(buffer, ...)                                                  \
        zuvo_sprintf_fchk(buffer, SAFESTDLIB_FORTIFY_FORMAT, SAFESTDLIB_OBJSIZE(buffer), \
                          __VA_ARGS__)
#      define zuvo_printf(...) zuvo_printf_fchk(SAFESTDLIB_FORTIFY_FORMAT, __VA_ARGS__)
#      define zuvo_fprintf(file, ...) \
        zuvo_fprintf_fchk(file, SAFESTDLIB_FORTIFY_FORMAT, __VA_ARGS__)
#    else
/* Only one of the two calls runs, and __builtin_object_size does not
 * evaluate its argument. */
#      define zuvo_snprintf(str, size, ...)                                    \
        (SAFESTDLIB_NO_CHECK(SAFESTDLIB_SIZE_T(size), SAFESTDLIB_OBJSIZE(str)) \
             ? zuvo_snprintf(str, size, __VA_ARGS__)                           \
             : zuvo_snprintf_chk(str, size, SAFESTDLIB_OBJSIZE(str), __VA_ARGS__))
#      define zuvo_sprintf(buffer, ...)                      \
        (SAFESTDLIB_UNKNOWN_SIZE(SAFESTDLIB_OBJSIZE(buffer)) \
             ? zuvo_sprintf(buffer, __VA_ARGS__)             \
             : zuvo_sprintf_chk(buffer, SAFESTDLIB_OBJSIZE(buffer), __VA_ARGS__))
#    endif

#  endif

#  ifdef __cplusplus
} /* extern "C" */
#  endif

/* ---- The capped printer (C++). */
#  if defined(__cplusplus) && defined(SAFESTDLIB_FORTIFY_FORMAT)
SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(1, 0) int zuvo_vmaxprintf(
    SAFESTDLIB_BUFFER(const char*, fmt), va_list args) {
  return zuvo_vmaxprintf_fchk(SAFESTDLIB_FORTIFY_FORMAT, fmt, args);
}
#    if !defined(SAFESTDLIB_FORTIFY_CLANG)
SAFESTDLIB_FORTIFIED SAFESTDLIB_PRINTF_FORMAT(1, 2) int zuvo_maxprintf(const char* fmt, ...) {
  return zuvo_maxprintf_fchk(SAFESTDLIB_FORTIFY_FORMAT, fmt, __builtin_va_arg_pack());
}
#    else
SAFESTDLIB_FORTIFIED_VARIADIC SAFESTDLIB_PRINTF_FORMAT(1, 2) int zuvo_maxprintf(
    SAFESTDLIB_BUFFER(const char*, fmt), ...) {
  SAFESTDLIB_PASS_ON(zuvo_vmaxprintf(fmt, args), fmt);
}
#    endif
#  endif

#  if defined(SAFESTDLIB_FORTIFY_CLANG)
#    pragma clang diagnostic pop
#  endif

#endif /* SAFESTDLIB_FORTIFY_LEVEL */

#endif /* SafeStdLibFortify_H */
