/* The checked routines from plain C99, built with -O2 -D_FORTIFY_SOURCE:
 * each function writes an 8-byte buffer of its own, the compiler knowing
 * its size, with the size n the test gives (for the unbounded forms, a text
 * of n characters), and returns 1 if the routine's result is the plain
 * routine's for a call that fits. The v-forms are called from a host's own
 * variadic function, the buffer in its scope. FortifyTest.cpp runs them;
 * CheckFortifyCalls.cmake reads what they call. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdarg.h>
#include <string.h>

#include "FortifyCases.h"
#include "SafeStdLib.h"

static const char kText[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

int FortifyCSprintf(int n) {
  char buffer[8];
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

int FortifyCVsprintf(int n) { return HostFormat(n, "%.*s", n, kText); }

int FortifyCSnprintf(int n) {
  char buffer[8];
  return zuvo_snprintf(buffer, (size_t)n, "%s", kText) == 64 && strlen(buffer) == (size_t)n - 1;
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

int FortifyCVsnprintf(int n) { return HostFormatN((size_t)n, "%s", kText); }

int FortifyCStrftime(int n) {
  char buffer[8];
  const time_t when = 0;
  struct tm brokenDown;
  if (zuvo_gmtime(&when, &brokenDown) == NULL) return 0;
  /* 19 characters: never fits, so buffer is left empty. */
  return zuvo_strftime(buffer, (size_t)n, "%Y-%m-%d %H:%M:%S", &brokenDown) == 0 &&
         buffer[0] == '\0';
}

int FortifyCStrerror(int n) {
  char buffer[8];
  return zuvo_strerror(ENOENT, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}

int FortifyCCtime(int n) {
  char buffer[8];
  const time_t when = 0;
  return zuvo_ctime(&when, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}

int FortifyCAsctime(int n) {
  char buffer[8];
  const time_t when = 0;
  struct tm brokenDown;
  if (zuvo_gmtime(&when, &brokenDown) == NULL) return 0;
  return zuvo_asctime(&brokenDown, buffer, n) == buffer && strlen(buffer) == (size_t)n - 1;
}
