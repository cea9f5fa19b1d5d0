/* Calls that a host built with -O2 -D_FORTIFY_SOURCE makes to the plain
 * routines, as a host built without it does: a buffer of a size the
 * compiler does not know, and a constant size that fits a buffer whose size
 * it knows; from level 2 on against glibc, the printers make the same calls
 * through their format-checked entries. CheckFortifyCalls.cmake requires
 * that this file calls no size-checked entry; FortifyTest.cpp checks the
 * results. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include "FortifyCases.h"
#include "SafeStdLib.h"

/* A host's own variadic function, given a buffer it cannot see the size of
 * (kept out of line, so that inlining does not show it). */
static int HostFormat(char* buffer, size_t size, const char* fmt, ...)
    FORTIFY_HOST_FORMAT(3, 4) FORTIFY_NOINLINE;
static int HostFormat(char* buffer, size_t size, const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsnprintf(buffer, size, fmt, args) == 4;
  va_end(args);
  va_start(args, fmt);
  result = result && zuvo_vsprintf(buffer, fmt, args) == 4 && strcmp(buffer, "c-99") == 0;
  va_end(args);
  return result;
}

/* One with a buffer of its own, of a size known to fit. */
static int HostFormatOwn(const char* fmt, ...) FORTIFY_HOST_FORMAT(1, 2);
static int HostFormatOwn(const char* fmt, ...) {
  char buffer[8];
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsnprintf(buffer, sizeof buffer, fmt, args) == 4 && strcmp(buffer, "c-99") == 0;
  va_end(args);
  return result;
}

/* The printers to a stream, printing nothing. */
static int HostPrint(const char* fmt, ...) FORTIFY_HOST_FORMAT(1, 2);
static int HostPrint(const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vprintf(fmt, args) == 0;
  va_end(args);
  va_start(args, fmt);
  result = result && zuvo_vfprintf(stdout, fmt, args) == 0;
  va_end(args);
  return result && zuvo_printf("%s", "") == 0 && zuvo_fprintf(stdout, "%s", "") == 0;
}

static int Unknown(char* buffer, size_t size) {
  const time_t when = 0;
  struct tm brokenDown;
  const int len = (int)size;
  return zuvo_sprintf(buffer, "%s-%d", "c", 99) == 4 && strcmp(buffer, "c-99") == 0 &&
         zuvo_snprintf(buffer, size, "%s-%d", "c", 99) == 4 &&
         HostFormat(buffer, size, "%s-%d", "c", 99) &&
         zuvo_gmtime(&when, &brokenDown) == &brokenDown &&
         zuvo_strftime(buffer, size, "%Y", &brokenDown) == 4 &&
         zuvo_strerror(ENOENT, buffer, len) == buffer && zuvo_ctime(&when, buffer, len) == buffer &&
         zuvo_asctime(&brokenDown, buffer, len) == buffer;
}

static int Fitting(void) {
  char buffer[26];
  const time_t when = 0;
  struct tm brokenDown;
  return zuvo_snprintf(buffer, sizeof buffer, "%s-%d", "c", 99) == 4 &&
         HostFormatOwn("%s-%d", "c", 99) && zuvo_gmtime(&when, &brokenDown) == &brokenDown &&
         zuvo_strftime(buffer, sizeof buffer, "%Y", &brokenDown) == 4 &&
         zuvo_strerror(ENOENT, buffer, sizeof buffer) == buffer &&
         zuvo_ctime(&when, buffer, sizeof buffer) == buffer &&
         zuvo_asctime(&brokenDown, buffer, sizeof buffer) == buffer &&
         strcmp(buffer, "Thu Jan  1 00:00:00 1970\n") == 0;
}

int FortifyPlainCalls(char* buffer, size_t size) {
  return Unknown(buffer, size) && Fitting() && HostPrint("%s", "");
}
