/* The fortify cases from plain C99, built with -O2 -D_FORTIFY_SOURCE (see
 * FortifyCases.h): a size case writes an 8-byte buffer of its own, the
 * compiler knowing its size, given room beyond what fits; a format case
 * prints a format that glibc checks. The v-forms are called from a host's
 * own variadic function, the buffer in its scope. FortifyTest.cpp runs
 * them; CheckFortifyCalls.cmake reads what they call. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include "FortifyCases.h"
#include "SafeStdLib.h"

static const char kText[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

/* ---- Size cases: 7 characters, or a size of 8, fit. */

int FortifyCSize_zuvo_sprintf(int extra) {
  char buffer[8];
  const int n = 7 + extra;
  return zuvo_sprintf(buffer, "%.*s", n, kText) == n && strlen(buffer) == (size_t)n;
}

static int HostFormat(int n, const char* fmt, ...) FORTIFY_HOST_FORMAT(2, 3);
static int HostFormat(int n, const char* fmt, ...) {
  char buffer[8];
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsprintf(buffer, fmt, args);
  va_end(args);
  return result == n && strlen(buffer) == (size_t)n;
}

int FortifyCSize_zuvo_vsprintf(int extra) {
  return HostFormat(7 + extra, "%.*s", 7 + extra, kText);
}

int FortifyCSize_zuvo_snprintf(int extra) {
  char buffer[8];
  const size_t size = (size_t)(8 + extra);
  return zuvo_snprintf(buffer, size, "%s", kText) == 64 && strlen(buffer) == size - 1;
}

static int HostFormatN(size_t size, const char* fmt, ...) FORTIFY_HOST_FORMAT(2, 3);
static int HostFormatN(size_t size, const char* fmt, ...) {
  char buffer[8];
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsnprintf(buffer, size, fmt, args);
  va_end(args);
  return result == 64 && strlen(buffer) == size - 1;
}

int FortifyCSize_zuvo_vsnprintf(int extra) { return HostFormatN((size_t)(8 + extra), "%s", kText); }

int FortifyCSize_zuvo_strftime(int extra) {
  char buffer[8];
  const time_t when = 0;
  struct tm brokenDown;
  if (zuvo_gmtime(&when, &brokenDown) == NULL) return 0;
  /* 19 characters: never fits, so buffer is left empty. */
  return zuvo_strftime(buffer, (size_t)(8 + extra), "%Y-%m-%d %H:%M:%S", &brokenDown) == 0 &&
         buffer[0] == '\0';
}

int FortifyCSize_zuvo_strerror(int extra) {
  char buffer[8];
  const int n = 8 + extra;
  return zuvo_strerror(ENOENT, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}

int FortifyCSize_zuvo_ctime(int extra) {
  char buffer[8];
  const time_t when = 0;
  const int n = 8 + extra;
  return zuvo_ctime(&when, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}

int FortifyCSize_zuvo_asctime(int extra) {
  char buffer[8];
  const time_t when = 0;
  const int n = 8 + extra;
  struct tm brokenDown;
  if (zuvo_gmtime(&when, &brokenDown) == NULL) return 0;
  return zuvo_asctime(&brokenDown, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}

/* ---- Format cases. */

#define FORMAT_CASE(name, call)                        \
  int FortifyCFormat_##name(int kind) {                \
    char writable[sizeof kFortifyCountFormat];         \
    const char* fmt = FortifyFormatOf(kind, writable); \
    int count = -1;                                    \
    const int result = call;                           \
    return FortifyFormatRight(kind, result, count);    \
  }

static int HostPrint(int toFile, const char* fmt, ...) FORTIFY_HOST_FORMAT(2, 3);
static int HostPrint(int toFile, const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = toFile ? zuvo_vfprintf(stdout, fmt, args) : zuvo_vprintf(fmt, args);
  va_end(args);
  return result;
}

static int HostWrite(int bounded, const char* fmt, ...) FORTIFY_HOST_FORMAT(2, 3);
static int HostWrite(int bounded, const char* fmt, ...) {
  char buffer[16];
  va_list args;
  int result;
  va_start(args, fmt);
  result =
      bounded ? zuvo_vsnprintf(buffer, sizeof buffer, fmt, args) : zuvo_vsprintf(buffer, fmt, args);
  va_end(args);
  return result;
}

FORMAT_CASE(zuvo_printf, zuvo_printf(fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_vprintf, HostPrint(0, fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_fprintf, zuvo_fprintf(stdout, fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_vfprintf, HostPrint(1, fmt, &count, "x", "y"))

static char sBuffer[16];
FORMAT_CASE(zuvo_sprintf, zuvo_sprintf(sBuffer, fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_vsprintf, HostWrite(0, fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_snprintf, zuvo_snprintf(sBuffer, sizeof sBuffer, fmt, &count, "x", "y"))
FORMAT_CASE(zuvo_vsnprintf, HostWrite(1, fmt, &count, "x", "y"))
