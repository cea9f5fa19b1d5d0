/* A host of the time routines, built with or without _TIME_BITS=64 and
 * linked with a library built either way: zuvo_gmtime, zuvo_localtime and
 * zuvo_ctime, plain and fortified, from C and C++, must agree with
 * gmtime_r, localtime_r and ctime_r on every time that the host's time_t
 * holds, and with glibc's own cases of 2038 and 2039 (time/tst-ctime.c,
 * time/tst-y2039.c). Each time_t lies last on a page before an
 * inaccessible one, so a routine that reads more of it than the host wrote
 * ends the process. Prints "time_t of <bits> bits: <n> times agree" and
 * exits 0 when all holds; otherwise names each mismatch on standard error
 * and exits 1. */
#define _DEFAULT_SOURCE

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "SafeStdLib.h"
#include "TimeBitsCalls.h"

static const struct {
  TimeBitsCalls calls;
  const char* name;
} kBuilds[] = {
    {TimeBitsCallsFromC, "C"},
    {TimeBitsCallsFromCxx, "C++"},
    {TimeBitsFortifiedCallsFromC, "fortified C"},
    {TimeBitsFortifiedCallsFromCxx, "fortified C++"},
};

/* The last second that a 32-bit time holds and its neighbours, 2040, 3000
 * and 1900, and a time whose year no int holds, which no routine converts. */
static const long long kTimes[] = {
    0,
    -1,
    1234567890,
    2147483647LL,
    -2147483647LL - 1,
    2147483648LL,
    -2147483649LL,
    2208988800LL /* 2040-01-01 */,
    32503680000LL /* 3000-01-01 */,
    -2208988800LL /* 1900-01-01 */,
    LLONG_MAX,
};

static int failures = 0;

static void Fail(const char* what, long long when, const char* build) {
  ++failures;
  fprintf(stderr, "%s of %lld from %s does not agree\n", what, when, build);
}

static int SameTm(const struct tm* a, const struct tm* b) {
  return a->tm_sec == b->tm_sec && a->tm_min == b->tm_min && a->tm_hour == b->tm_hour &&
         a->tm_mday == b->tm_mday && a->tm_mon == b->tm_mon && a->tm_year == b->tm_year &&
         a->tm_wday == b->tm_wday && a->tm_yday == b->tm_yday && a->tm_isdst == b->tm_isdst &&
         a->tm_gmtoff == b->tm_gmtoff && a->tm_zone != NULL && b->tm_zone != NULL &&
         strcmp(a->tm_zone, b->tm_zone) == 0;
}

/* A structure copy agrees when both convert to the same time, or both fail
 * and the copy left the caller's structure as it was. */
static int SameConversion(int returned, const struct tm* got, const struct tm* want) {
  struct tm untouched;
  memset(&untouched, kUntouched, sizeof untouched);
  if (want == NULL) return returned == 0 && memcmp(got, &untouched, sizeof untouched) == 0;
  return returned == 1 && SameTm(got, want);
}

/* A text copy agrees when it holds the same text, or both fail and the copy
 * left an empty string. */
static int SameText(int returned, const char* got, const char* want) {
  if (want == NULL) return returned == 0 && got[0] == '\0';
  return returned == 1 && strcmp(got, want) == 0;
}

static void CheckTime(time_t* slot, long long when) {
  struct tm wantUtc;
  struct tm wantLocal;
  char wantText[64];
  size_t i;
  *slot = (time_t)when;
  const struct tm* utc = gmtime_r(slot, &wantUtc);
  const struct tm* local = localtime_r(slot, &wantLocal);
  const char* text = ctime_r(slot, wantText);
  for (i = 0; i < sizeof kBuilds / sizeof kBuilds[0]; ++i) {
    struct TimeBitsResults got;
    memset(&got, kUntouched, sizeof got);
    kBuilds[i].calls(slot, (int)sizeof got.ctime, &got);
    if (!SameConversion(got.gmtimeReturned, &got.gmtime, utc))
      Fail("zuvo_gmtime", when, kBuilds[i].name);
    if (!SameConversion(got.localtimeReturned, &got.localtime, local))
      Fail("zuvo_localtime", when, kBuilds[i].name);
    if (!SameText(got.ctimeReturned, got.ctime, text)) Fail("zuvo_ctime", when, kBuilds[i].name);
    if (!SameText(got.ctimeFittedReturned, got.ctimeFitted, text))
      Fail("zuvo_ctime, a size that fits,", when, kBuilds[i].name);
  }
}

static void SetZone(const char* zone) {
  if (setenv("TZ", zone, 1) != 0) {
    perror("setenv");
    exit(1);
  }
  tzset();
}

/* glibc's time/tst-ctime.c, on the routines: UTC without leap seconds, the
 * epoch and the last second of a 32-bit time, and the next second where
 * time_t holds it. */
static void CheckCtimeCases(time_t* slot) {
  static const struct {
    long long when;
    const char* text;
  } kCases[] = {
      {0, "Thu Jan  1 00:00:00 1970\n"},
      {0x7fffffff, "Tue Jan 19 03:14:07 2038\n"},
      {0x80000000LL, "Tue Jan 19 03:14:08 2038\n"},
  };
  size_t c;
  size_t i;
  SetZone(":");
  for (c = 0; c < sizeof kCases / sizeof kCases[0]; ++c) {
    *slot = (time_t)kCases[c].when;
    if ((long long)*slot != kCases[c].when) continue;
    for (i = 0; i < sizeof kBuilds / sizeof kBuilds[0]; ++i) {
      struct TimeBitsResults got;
      kBuilds[i].calls(slot, (int)sizeof got.ctime, &got);
      if (!SameText(got.ctimeReturned, got.ctime, kCases[c].text))
        Fail("glibc's case of zuvo_ctime", kCases[c].when, kBuilds[i].name);
    }
  }
}

/* glibc's time/tst-y2039.c, on the routines: a local time in 2039, past the
 * last transition that a 32-bit zone file lists, where time_t holds it. */
static void CheckY2039Case(time_t* slot) {
  const long long when = 2187810000LL;
  struct tm local;
  char text[64];
  SetZone("PST8PDT,M3.2.0,M11.1.0");
  *slot = (time_t)when;
  if ((long long)*slot != when) return;
  if (zuvo_localtime(slot, &local) != &local ||
      zuvo_strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local) == 0 ||
      strcmp(text, "2039-04-30 14:00:00 PDT") != 0)
    Fail("glibc's case of zuvo_localtime", when, "C");
}

int main(void) {
  const size_t pageSize = (size_t)sysconf(_SC_PAGESIZE);
  char* pages =
      (char*)mmap(NULL, 2 * pageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  time_t* slot;
  int agreed = 0;
  size_t t;
  if (pages == MAP_FAILED || mprotect(pages + pageSize, pageSize, PROT_NONE) != 0) {
    perror("mmap");
    return 1;
  }
  slot = (time_t*)(void*)(pages + pageSize - sizeof(time_t));

  /* A zone with summer time, as a POSIX string: no zone file is read. */
  SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
  for (t = 0; t < sizeof kTimes / sizeof kTimes[0]; ++t) {
    if ((long long)(time_t)kTimes[t] != kTimes[t]) continue;
    CheckTime(slot, kTimes[t]);
    ++agreed;
  }
  CheckCtimeCases(slot);
  CheckY2039Case(slot);
  if (failures != 0) return 1;
  printf("time_t of %d bits: %d times agree\n", (int)(sizeof(time_t) * CHAR_BIT), agreed);
  return 0;
}
