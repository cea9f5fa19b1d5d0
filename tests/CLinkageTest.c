/* Calls every C-linkage routine from plain C99: the header must stay valid
 * C and the symbols must link without C++ name mangling. Every C row of the
 * list (RoutineList.h) is called as tests/RoutineCalls.h calls it, beside its
 * bare C library call, and must leave what that call leaves (a row without
 * its calls there does not compile); the edge cases below are checked one by
 * one. */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "RoutineCalls.h"
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

/* What a call leaves in the calls' storage, from the same start. */
struct Outcome {
  char text[sizeof gText];
  struct tm brokenDown;
};

static struct Outcome OutcomeOf(void (*call)(void)) {
  struct Outcome outcome;
  memset(gText, 0x5a, sizeof gText);
  gBrokenDown = *gmtime(&gWhen);
  call();
  memcpy(outcome.text, gText, sizeof gText);
  outcome.brokenDown = gBrokenDown;
  return outcome;
}

static int SameOutcome(const struct Outcome* a, const struct Outcome* b) {
  const struct tm* x = &a->brokenDown;
  const struct tm* y = &b->brokenDown;
  return memcmp(a->text, b->text, sizeof a->text) == 0 && x->tm_sec == y->tm_sec &&
         x->tm_min == y->tm_min && x->tm_hour == y->tm_hour && x->tm_mday == y->tm_mday &&
         x->tm_mon == y->tm_mon && x->tm_year == y->tm_year && x->tm_wday == y->tm_wday &&
         x->tm_yday == y->tm_yday && x->tm_isdst == y->tm_isdst;
}

static void CheckLikeBare(const char* name, void (*wrapped)(void), void (*bare)(void)) {
  const struct Outcome want = OutcomeOf(bare);
  const struct Outcome got = OutcomeOf(wrapped);
  check(SameOutcome(&got, &want), name);
}

/* Every C-linkage routine of the list against its bare call; what the
 * printers print goes to /dev/null. */
static void CheckEveryCRoutine(void) {
  const int out = dup(STDOUT_FILENO);
  const int devNull = open("/dev/null", O_WRONLY);
  fflush(stdout);
  CHECK(out >= 0 && devNull >= 0 && dup2(devNull, STDOUT_FILENO) == STDOUT_FILENO);
  PrepareRoutineCalls();
#define CLINKAGE_CHECK(name, linkage, kind, checked) \
  ROUTINE_IF_##linkage(CheckLikeBare(#name, Wrapped_##name, Bare_##name);)
#define SAFESTDLIB_ROUTINE(...) ROUTINE_COLUMNS(CLINKAGE_CHECK, __VA_ARGS__)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE
#undef CLINKAGE_CHECK
  fflush(stdout);
  CHECK(dup2(out, STDOUT_FILENO) == STDOUT_FILENO);
  close(out);
  close(devNull);
  if (gDevNull != NULL) fclose(gDevNull);
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

  CheckEveryCRoutine();

  if (devNull != NULL) fclose(devNull);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
