/* TimeBitsCalls.h: the time routines called on a time_t that the host
 * lays out, by a host built with or without _TIME_BITS=64, from C and from
 * C++, plainly and fortified (TimeBitsCalls.c); TimeBitsHost.c compares
 * what each returned with the C library's reentrant calls. */
#ifndef SafeStdLib_TimeBitsCalls_H
#define SafeStdLib_TimeBitsCalls_H

#include <time.h>

/* What the caller's storage holds before the calls. */
enum { kUntouched = 0x5a };

/* What the calls returned: 1 the caller's storage, 0 NULL, -1 anything else,
 * and what they left in the caller's storage. */
struct TimeBitsResults {
  int gmtimeReturned;
  struct tm gmtime;
  int localtimeReturned;
  struct tm localtime;
  /* zuvo_ctime given a size known only at run time (a fortified host's
   * checked entry), and given a constant that fits (its plain routine). */
  int ctimeReturned;
  char ctime[64];
  int ctimeFittedReturned;
  char ctimeFitted[64];
};

typedef void (*TimeBitsCalls)(const time_t* when, int textSize, struct TimeBitsResults* results);

#ifdef __cplusplus
extern "C" {
#endif
void TimeBitsCallsFromC(const time_t* when, int textSize, struct TimeBitsResults* results);
void TimeBitsCallsFromCxx(const time_t* when, int textSize, struct TimeBitsResults* results);
void TimeBitsFortifiedCallsFromC(const time_t* when, int textSize, struct TimeBitsResults* results);
void TimeBitsFortifiedCallsFromCxx(const time_t* when, int textSize,
                                   struct TimeBitsResults* results);
#ifdef __cplusplus
}
#endif

#endif /* SafeStdLib_TimeBitsCalls_H */
