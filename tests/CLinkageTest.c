/* Calls every C-linkage routine from plain C99: the header must stay valid
 * C and the symbols must link without C++ name mangling. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "SafeStdLib.h"

static int passed = 0;
static int failed = 0;

static void check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    fprintf(stderr, "failed: %s\n", what);
  }
}

#define CHECK(cond) check((cond) != 0, #cond)

/* A host's own variadic functions, as a logging function would be, each
 * forwarding its arguments to a v-form. */
#if defined(__GNUC__)
#  define HOST_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#  define HOST_FORMAT(f, a)
#endif
static int HostPrint(const char* fmt, ...) HOST_FORMAT(1, 2);
static int HostPrint(const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vprintf(fmt, args);
  va_end(args);
  return result;
}
static int HostWrite(FILE* file, const char* fmt, ...) HOST_FORMAT(2, 3);
static int HostWrite(FILE* file, const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vfprintf(file, fmt, args);
  va_end(args);
  return result;
}
static int HostFormat(char* buffer, const char* fmt, ...) HOST_FORMAT(2, 3);
static int HostFormat(char* buffer, const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsprintf(buffer, fmt, args);
  va_end(args);
  return result;
}
static int HostFormatN(char* str, size_t size, const char* fmt, ...) HOST_FORMAT(3, 4);
static int HostFormatN(char* str, size_t size, const char* fmt, ...) {
  va_list args;
  int result;
  va_start(args, fmt);
  result = zuvo_vsnprintf(str, size, fmt, args);
  va_end(args);
  return result;
}

int main(void) {
  char text[64];
  struct tm brokenDown;
  const time_t epoch = 0;
  FILE* devNull = fopen("/dev/null", "w");

  setenv("TZ", "UTC0", 1);
  CHECK(devNull != NULL);
  CHECK(zuvo_printf("%s", "") == 0);
  CHECK(zuvo_fprintf(devNull, "%d", 12345) == 5);
  CHECK(zuvo_sprintf(text, "%s-%d", "c", 99) == 4 && strcmp(text, "c-99") == 0);
  CHECK(zuvo_snprintf(text, 3, "%s", "abcdef") == 6 && strcmp(text, "ab") == 0);
  CHECK(zuvo_gmtime(&epoch, &brokenDown) == &brokenDown && brokenDown.tm_year == 70);
  CHECK(zuvo_localtime(&epoch, &brokenDown) == &brokenDown && brokenDown.tm_hour == 0);
  CHECK(zuvo_strftime(text, sizeof text, "%Y-%m-%d", &brokenDown) == 10);
  CHECK(strcmp(text, "1970-01-01") == 0);
  CHECK(zuvo_asctime(&brokenDown, text, sizeof text) == text);
  CHECK(strcmp(text, "Thu Jan  1 00:00:00 1970\n") == 0);
  CHECK(zuvo_ctime(&epoch, text, 11) == text && strcmp(text, "Thu Jan  1") == 0);
  CHECK(zuvo_strerror(ENOENT, text, sizeof text) == text);
  CHECK(strcmp(text, strerror(ENOENT)) == 0);
  CHECK(zuvo_printf(NULL) == -1);

  /* The v-forms give exactly what their twins give, guards included. */
  CHECK(HostPrint("%s", "") == 0);
  CHECK(HostWrite(devNull, "%d", 12345) == 5);
  CHECK(HostWrite(NULL, "%d", 12345) == -1);
  CHECK(HostFormat(text, "%s-%d", "c", 99) == 4 && strcmp(text, "c-99") == 0);
  CHECK(HostFormat(NULL, "%s-%d", "c", 99) == -1);
  CHECK(HostFormatN(text, 3, "%s", "abcdef") == 6 && strcmp(text, "ab") == 0);
  CHECK(HostFormatN(text, 0, "%s", "abcdef") == 6 && strcmp(text, "ab") == 0);
  CHECK(HostFormatN(NULL, 0, "%s", "abcdef") == -1);

  if (devNull != NULL) fclose(devNull);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
