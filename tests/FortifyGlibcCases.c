/* glibc's own fortification cases for its printf family (debug/tst-fortify.c,
 * glibc 2.41), written for the routines: the same calls, buffers and
 * checks, the routines' names for glibc's, and the cases of routines the
 * library has no twin of (dprintf, asprintf, obstack_printf, the wide
 * forms) left out. Built as C and as C++ (FortifyGlibcCasesCxx.cpp) at
 * _FORTIFY_SOURCE 1, 2 and 3. As glibc's test does, each case that must
 * fail runs under a SIGABRT handler that jumps back; here the routine must
 * also have left the mutex and standard output free. Prints every failed
 * line, then "N passed, N failed"; exits 0 when none failed. */

#define _GNU_SOURCE 1

#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "SafeStdLib.h"

/* As glibc's test, the cases pass sizes known not to fit and formats
 * without their arguments on purpose. */
#if defined(__clang__)
#  pragma clang diagnostic ignored "-Wuser-defined-warnings"
#else
#  pragma GCC diagnostic ignored "-Wattribute-warning"
#endif
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"

/* glibc's own level for the host, by which its test chooses its cases. */
#if defined(__USE_FORTIFY_LEVEL)
#  define FORTIFY_LEVEL __USE_FORTIFY_LEVEL
#else
#  define FORTIFY_LEVEL 0
#endif

static volatile int chk_fail_ok;
static volatile int failed, passed;
static sigjmp_buf chk_fail_buf;

static void handler(int sig) {
  (void)sig;
  if (chk_fail_ok) {
    chk_fail_ok = 0;
    siglongjmp(chk_fail_buf, 1);
  } else {
    _exit(127);
  }
}

#if FORTIFY_LEVEL == 3
volatile size_t buf_size = 10;
#else
char buf[10];
#  define buf_size sizeof(buf)
#endif

static volatile size_t l0;
static const char* str2 = "F";
static const char* str3 = "%s%n%s%n";
static const char* str4 = "Hello, ";
static const char* str5 = "World!\n";
static char buf2[10] = "%s";
static int num1 = 67;
static int num2 = 987654;

/* Whether another thread takes standard output's lock, and the mutex
 * (through a routine), within 10 s: nothing left held by this one. */
static void* TakeBoth(void* ok) {
  char probe[4];
  if (ftrylockfile(stdout) != 0) return NULL;
  funlockfile(stdout);
  return zuvo_snprintf(probe, sizeof probe, "%d", 1) == 1 ? ok : NULL;
}
static int LocksFree(void) {
  static int ok;
  pthread_t taker;
  void* result = NULL;
  struct timespec deadline;
  if (pthread_create(&taker, NULL, TakeBoth, &ok) != 0) return 0;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += 10;
  if (pthread_timedjoin_np(taker, &result, &deadline) != 0) return 0;
  return result == &ok;
}

#define FAIL()                                \
  do {                                        \
    printf("Failure on line %d\n", __LINE__); \
    failed = failed + 1;                      \
  } while (0)
#define PASS() passed = passed + 1
#define CHK_FAIL_START \
  chk_fail_ok = 1;     \
  if (!sigsetjmp(chk_fail_buf, 1)) {
#define CHK_FAIL_END             \
  chk_fail_ok = 0;               \
  FAIL();                        \
  }                              \
  else if (!LocksFree()) FAIL(); \
  else PASS();
#if FORTIFY_LEVEL >= 2
#  define CHK_FAIL2_START CHK_FAIL_START
#  define CHK_FAIL2_END CHK_FAIL_END
#else
#  define CHK_FAIL2_START
#  define CHK_FAIL2_END
#endif
#define CHECK(cond) \
  if (cond)         \
    FAIL();         \
  else              \
    PASS()

int main(void) {
#if FORTIFY_LEVEL == 3
  char* buf = (char*)malloc(buf_size);
#endif
  struct A {
    char buf1[9];
    char buf2[1];
  } a;
  struct sigaction jump;
  int n1, n2;
  FILE* fp = stdout;

  memset(&jump, 0, sizeof jump);
  jump.sa_handler = handler;
  sigaction(SIGABRT, &jump, NULL);
  /* glibc's failures on standard error, not the terminal. */
  setenv("LIBC_FATAL_STDERR_", "1", 1);
  printf("Test checking routines at fortify level %d\n", (int)FORTIFY_LEVEL);

  /* These ops can be done without runtime checking of object size.  */
  memcpy(buf, "aabcEDX\0\0", 10);
  CHECK(zuvo_sprintf(buf + 7, "%s", "67") != 2 || memcmp(buf, "aabcEDX67", 10));
  CHECK(zuvo_snprintf(buf + 7, 3, "%s", "987654") != 6 || memcmp(buf, "aabcEDX98", 10));

  /* These ops need runtime checking, but shouldn't __chk_fail.  */
  memcpy(buf, "aabcEcd\0\0", 10);
  CHECK(zuvo_sprintf(buf + 7, "%d", num1) != 2 || memcmp(buf, "aabcEcd67", 10));
  CHECK(zuvo_snprintf(buf + 7, 3, "%d", num2) != 6 || memcmp(buf, "aabcEcd98", 10));

#if FORTIFY_LEVEL < 2
  /* The following tests are supposed to crash with -D_FORTIFY_SOURCE=2
     and sufficient GCC support, as the string operations overflow
     from a.buf1 into a.buf2.  */
  memcpy(&a, "aabcEDX\0\0", 10);
  CHECK(zuvo_sprintf(a.buf1 + 7, "%d", num1) != 2 || memcmp(a.buf1, "aabcEDX67", 10));
  CHECK(zuvo_snprintf(a.buf1 + 7, 3, "%d", num2) != 6 || memcmp(a.buf1, "aabcEDX98", 10));
#endif

#if FORTIFY_LEVEL >= 1
  /* Now check if all buffer overflows are caught at runtime.
     N.B. All tests involving a length parameter need to be done
     twice: once with the length a compile-time constant, once without.  */
  CHK_FAIL_START
  zuvo_sprintf(buf + 8, "%d", num1);
  CHK_FAIL_END

  CHK_FAIL_START
  zuvo_snprintf(buf + 8, 3, "%d", num2);
  CHK_FAIL_END

  CHK_FAIL_START
  zuvo_snprintf(buf + 8, l0 + 3, "%d", num2);
  CHK_FAIL_END

#  if FORTIFY_LEVEL >= 2
#    define O 0
#  else
#    define O 1
#  endif

  CHK_FAIL_START
  zuvo_sprintf(a.buf1 + (O + 7), "%d", num1);
  CHK_FAIL_END

  CHK_FAIL_START
  zuvo_snprintf(a.buf1 + (O + 7), 3, "%d", num2);
  CHK_FAIL_END

  CHK_FAIL_START
  zuvo_snprintf(a.buf1 + (O + 7), l0 + 3, "%d", num2);
  CHK_FAIL_END
#endif

  /* Now checks for %n protection.  */

  /* Constant literals passed directly are always ok
     (even with warnings about possible bugs from GCC).  */
  CHECK(zuvo_sprintf(buf, "%s%n%s%n", str2, &n1, str2, &n2) != 2 || n1 != 1 || n2 != 2);

  /* In this case the format string is not known at compile time,
     but resides in read-only memory, so is ok.  */
  CHECK(zuvo_snprintf(buf, 4, str3, str2, &n1, str2, &n2) != 2 || n1 != 1 || n2 != 2);

  strcpy(buf2 + 2, "%n%s%n");
  /* When the format string is writable and contains %n,
     with -D_FORTIFY_SOURCE=2 it causes __chk_fail.  */
  CHK_FAIL2_START
  if (zuvo_sprintf(buf, buf2, str2, &n1, str2, &n1) != 2) FAIL();
  CHK_FAIL2_END

  CHK_FAIL2_START
  if (zuvo_snprintf(buf, 3, buf2, str2, &n1, str2, &n1) != 2) FAIL();
  CHK_FAIL2_END

  /* But if there is no %n, even writable format string
     should work.  */
  buf2[6] = '\0';
  CHECK(zuvo_sprintf(buf, buf2 + 4, str2) != 1);

  /* Constant literals passed directly are always ok
     (even with warnings about possible bugs from GCC).  */
  CHECK(zuvo_printf("%s%n%s%n", str4, &n1, str5, &n2) != 14 || n1 != 7 || n2 != 14);

  /* In this case the format string is not known at compile time,
     but resides in read-only memory, so is ok.  */
  CHECK(zuvo_printf(str3, str4, &n1, str5, &n2) != 14 || n1 != 7 || n2 != 14);

  strcpy(buf2 + 2, "%n%s%n");
  /* When the format string is writable and contains %n,
     with -D_FORTIFY_SOURCE=2 it causes __chk_fail.  */
  CHK_FAIL2_START
  if (zuvo_printf(buf2, str4, &n1, str5, &n1) != 14) FAIL();
  CHK_FAIL2_END

  /* But if there is no %n, even writable format string
     should work.  */
  buf2[6] = '\0';
  CHECK(zuvo_printf(buf2 + 4, str5) != 7);

  /* Constant literals passed directly are always ok
     (even with warnings about possible bugs from GCC).  */
  CHECK(zuvo_fprintf(fp, "%s%n%s%n", str4, &n1, str5, &n2) != 14 || n1 != 7 || n2 != 14);

  /* In this case the format string is not known at compile time,
     but resides in read-only memory, so is ok.  */
  CHECK(zuvo_fprintf(fp, str3, str4, &n1, str5, &n2) != 14 || n1 != 7 || n2 != 14);

  strcpy(buf2 + 2, "%n%s%n");
  /* When the format string is writable and contains %n,
     with -D_FORTIFY_SOURCE=2 it causes __chk_fail.  */
  CHK_FAIL2_START
  if (zuvo_fprintf(fp, buf2, str4, &n1, str5, &n1) != 14) FAIL();
  CHK_FAIL2_END

  /* But if there is no %n, even writable format string
     should work.  */
  buf2[6] = '\0';
  CHECK(zuvo_fprintf(fp, buf2 + 4, str5) != 7);

  /* Check whether missing N$ formats are detected.  */
  CHK_FAIL2_START
  zuvo_printf("%3$d\n", 1, 2, 3, 4);
  CHK_FAIL2_END

  CHK_FAIL2_START
  zuvo_fprintf(stdout, "%3$d\n", 1, 2, 3, 4);
  CHK_FAIL2_END

  CHK_FAIL2_START
  zuvo_sprintf(buf, "%3$d\n", 1, 2, 3, 4);
  CHK_FAIL2_END

  CHK_FAIL2_START
  zuvo_snprintf(buf, buf_size, "%3$d\n", 1, 2, 3, 4);
  CHK_FAIL2_END

  printf("%d passed, %d failed\n", passed, failed);
#if FORTIFY_LEVEL == 3
  free(buf);
#endif
  return failed != 0;
}
