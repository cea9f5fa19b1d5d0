/* RoutineCalls.h: every routine of the list (SafeStdLib/internal/RoutineList.h),
 * each beside the bare C library call it wraps, on the same inputs. A bare
 * call that leaves its result in static storage copies it out, as the
 * routine does.
 *
 * For each row, Wrapped_<name>() calls the routine and Bare_<name>() the C
 * library; for each CHECKED row, Checked_<name>() and BareChecked_<name>()
 * make the same calls with the room read at run time, so that a host built
 * with _FORTIFY_SOURCE checks them (the sprintf forms take no room, and
 * their checked calls are their plain ones). A row of CXX linkage has its
 * calls in C++ only.
 *
 * The tables of RoutineTables.h, the C-linkage test, the strict hosts and
 * the benchmarks reach every row through these names, so a row without its
 * calls here stops their build. Valid C99 and C++11, and clean under the
 * strict hosts' warnings. */
#ifndef SafeStdLib_RoutineCalls_H
#define SafeStdLib_RoutineCalls_H

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "SafeStdLib.h"

/* For readers of the list: ROUTINE_COLUMNS(m, row...) is m(name, linkage,
 * kind, checked) for one row, whatever columns later rows append
 *   #define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(MyRow, __VA_ARGS__)
 * and ROUTINE_IF_##linkage(x), ROUTINE_IF_##checked(x) are x for a row of C
 * linkage (of either linkage in C++) and for a row whose size is checked
 * (CHECKED, CHECKED_AND_FORMAT_CHECKED), else nothing. */
#define ROUTINE_COLUMNS(m, ...) ROUTINE_COLUMNS_(m, __VA_ARGS__, ~)
#define ROUTINE_COLUMNS_(m, name, linkage, kind, checked, ...) m(name, linkage, kind, checked)
#define ROUTINE_IF_C(x) x
#ifdef __cplusplus
#  define ROUTINE_IF_CXX(x) x
#else
#  define ROUTINE_IF_CXX(x)
#endif
#define ROUTINE_IF_CHECKED(x) x
#define ROUTINE_IF_CHECKED_AND_FORMAT_CHECKED(x) x
#define ROUTINE_IF_FORMAT_CHECKED(x)
#define ROUTINE_IF_PLAIN(x)

#ifdef __cplusplus
namespace routines {
#endif

static char gText[128];
static struct tm gBrokenDown;
static const time_t gWhen = 1234567890;
static FILE* gDevNull; /* set up by PrepareRoutineCalls() */
/* The room a checked call is given, read at run time: one load, bare and
 * wrapped alike. */
static volatile size_t gRoom = sizeof gText;
static volatile int gRoomInt = sizeof gText;

static inline void CopyText(const char* text) {
  strncpy(gText, text, sizeof gText - 1);
  gText[sizeof gText - 1] = '\0';
}

/* Empty volatile sinks: keep the compiler from dropping a call. */
static inline void Keep(const void* p) { __asm__ __volatile__("" : : "g"(p) : "memory"); }
static inline void KeepValue(unsigned long v) { __asm__ __volatile__("" : : "g"(v) : "memory"); }

/* Opens gDevNull and fills gBrokenDown: what the calls need. */
static inline void PrepareRoutineCalls(void) {
  gDevNull = fopen("/dev/null", "w");
  gBrokenDown = *gmtime(&gWhen);
}

/* The v-forms, reached as a host reaches them: through a variadic function
 * of its own (a logging function, say), here one that makes `call` with the
 * va_list `args`. */
#define ROUTINE_HOST_FUNCTION(host, call)                                        \
  static inline SAFESTDLIB_PRINTF_FORMAT(1, 2) void host(const char* fmt, ...) { \
    va_list args;                                                                \
    va_start(args, fmt);                                                         \
    call;                                                                        \
    va_end(args);                                                                \
  }
ROUTINE_HOST_FUNCTION(HostVprintf, zuvo_vprintf(fmt, args))
ROUTINE_HOST_FUNCTION(HostBareVprintf, vprintf(fmt, args))
ROUTINE_HOST_FUNCTION(HostVfprintf, zuvo_vfprintf(gDevNull, fmt, args))
ROUTINE_HOST_FUNCTION(HostBareVfprintf, vfprintf(gDevNull, fmt, args))
ROUTINE_HOST_FUNCTION(HostVsprintf, zuvo_vsprintf(gText, fmt, args))
ROUTINE_HOST_FUNCTION(HostBareVsprintf, vsprintf(gText, fmt, args))
ROUTINE_HOST_FUNCTION(HostVsnprintf, zuvo_vsnprintf(gText, sizeof gText, fmt, args))
ROUTINE_HOST_FUNCTION(HostBareVsnprintf, vsnprintf(gText, sizeof gText, fmt, args))
ROUTINE_HOST_FUNCTION(HostVsnprintfRoom, zuvo_vsnprintf(gText, gRoom, fmt, args))
ROUTINE_HOST_FUNCTION(HostBareVsnprintfRoom, vsnprintf(gText, gRoom, fmt, args))

/* ---- The capped printer and its limit: C++ only. */
#ifdef __cplusplus
ROUTINE_HOST_FUNCTION(HostVmaxprintf, zuvo_vmaxprintf(fmt, args))

static inline void Wrapped_zuvo_maxprintf(void) { zuvo_maxprintf("%s %d\n", "line", 42); }
static inline void Bare_zuvo_maxprintf(void) { printf("%s %d\n", "line", 42); }
static inline void Wrapped_zuvo_vmaxprintf(void) { HostVmaxprintf("%s %d\n", "line", 42); }
static inline void Bare_zuvo_vmaxprintf(void) { HostBareVprintf("%s %d\n", "line", 42); }
static inline void Wrapped_zuvo_getmaxprintfcharsinK(void) {
  KeepValue(zuvo_getmaxprintfcharsinK());
}
static inline void Bare_zuvo_getmaxprintfcharsinK(void) { KeepValue(0); }
static inline void Wrapped_zuvo_setmaxprintfcharsinK(void) {
  zuvo_setmaxprintfcharsinK(4294967295u);
}
static inline void Bare_zuvo_setmaxprintfcharsinK(void) { KeepValue(0); }
#endif

/* ---- Locked formatted output. */
static inline void Wrapped_zuvo_printf(void) { zuvo_printf("%s %d\n", "line", 42); }
static inline void Bare_zuvo_printf(void) { printf("%s %d\n", "line", 42); }
static inline void Wrapped_zuvo_vprintf(void) { HostVprintf("%s %d\n", "line", 42); }
static inline void Bare_zuvo_vprintf(void) { HostBareVprintf("%s %d\n", "line", 42); }
static inline void Wrapped_zuvo_fprintf(void) { zuvo_fprintf(gDevNull, "%s %d\n", "line", 42); }
static inline void Bare_zuvo_fprintf(void) { fprintf(gDevNull, "%s %d\n", "line", 42); }
static inline void Wrapped_zuvo_vfprintf(void) { HostVfprintf("%s %d\n", "line", 42); }
static inline void Bare_zuvo_vfprintf(void) { HostBareVfprintf("%s %d\n", "line", 42); }

static inline void Wrapped_zuvo_sprintf(void) { zuvo_sprintf(gText, "%s %d", "line", 42); }
static inline void Bare_zuvo_sprintf(void) { sprintf(gText, "%s %d", "line", 42); }
static inline void Checked_zuvo_sprintf(void) { Wrapped_zuvo_sprintf(); }
static inline void BareChecked_zuvo_sprintf(void) { Bare_zuvo_sprintf(); }
static inline void Wrapped_zuvo_vsprintf(void) { HostVsprintf("%s %d", "line", 42); }
static inline void Bare_zuvo_vsprintf(void) { HostBareVsprintf("%s %d", "line", 42); }
static inline void Checked_zuvo_vsprintf(void) { Wrapped_zuvo_vsprintf(); }
static inline void BareChecked_zuvo_vsprintf(void) { Bare_zuvo_vsprintf(); }

static inline void Wrapped_zuvo_snprintf(void) {
  zuvo_snprintf(gText, sizeof gText, "%s %d", "line", 42);
}
static inline void Bare_zuvo_snprintf(void) { snprintf(gText, sizeof gText, "%s %d", "line", 42); }
static inline void Checked_zuvo_snprintf(void) { zuvo_snprintf(gText, gRoom, "%s %d", "line", 42); }
static inline void BareChecked_zuvo_snprintf(void) { snprintf(gText, gRoom, "%s %d", "line", 42); }
static inline void Wrapped_zuvo_vsnprintf(void) { HostVsnprintf("%s %d", "line", 42); }
static inline void Bare_zuvo_vsnprintf(void) { HostBareVsnprintf("%s %d", "line", 42); }
static inline void Checked_zuvo_vsnprintf(void) { HostVsnprintfRoom("%s %d", "line", 42); }
static inline void BareChecked_zuvo_vsnprintf(void) { HostBareVsnprintfRoom("%s %d", "line", 42); }

/* ---- Locked time and error text. */
static inline void Wrapped_zuvo_strftime(void) {
  zuvo_strftime(gText, sizeof gText, "%Y-%m-%d %H:%M:%S", &gBrokenDown);
}
static inline void Bare_zuvo_strftime(void) {
  strftime(gText, sizeof gText, "%Y-%m-%d %H:%M:%S", &gBrokenDown);
}
static inline void Checked_zuvo_strftime(void) {
  zuvo_strftime(gText, gRoom, "%Y-%m-%d %H:%M:%S", &gBrokenDown);
}
static inline void BareChecked_zuvo_strftime(void) {
  strftime(gText, gRoom, "%Y-%m-%d %H:%M:%S", &gBrokenDown);
}

static inline void Wrapped_zuvo_strerror(void) { zuvo_strerror(ENOENT, gText, sizeof gText); }
static inline void Bare_zuvo_strerror(void) { CopyText(strerror(ENOENT)); }
static inline void Checked_zuvo_strerror(void) { zuvo_strerror(ENOENT, gText, gRoomInt); }
static inline void BareChecked_zuvo_strerror(void) { Bare_zuvo_strerror(); }
static inline void Wrapped_zuvo_ctime(void) { zuvo_ctime(&gWhen, gText, sizeof gText); }
static inline void Bare_zuvo_ctime(void) { CopyText(ctime(&gWhen)); }
static inline void Checked_zuvo_ctime(void) { zuvo_ctime(&gWhen, gText, gRoomInt); }
static inline void BareChecked_zuvo_ctime(void) { Bare_zuvo_ctime(); }
static inline void Wrapped_zuvo_asctime(void) { zuvo_asctime(&gBrokenDown, gText, sizeof gText); }
static inline void Bare_zuvo_asctime(void) { CopyText(asctime(&gBrokenDown)); }
static inline void Checked_zuvo_asctime(void) { zuvo_asctime(&gBrokenDown, gText, gRoomInt); }
static inline void BareChecked_zuvo_asctime(void) { Bare_zuvo_asctime(); }

static inline void Wrapped_zuvo_gmtime(void) { zuvo_gmtime(&gWhen, &gBrokenDown); }
static inline void Bare_zuvo_gmtime(void) { gBrokenDown = *gmtime(&gWhen); }
static inline void Wrapped_zuvo_localtime(void) { zuvo_localtime(&gWhen, &gBrokenDown); }
static inline void Bare_zuvo_localtime(void) { gBrokenDown = *localtime(&gWhen); }

#ifdef __cplusplus
} /* namespace routines */
#endif

#endif
