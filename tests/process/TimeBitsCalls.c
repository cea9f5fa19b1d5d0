/* The time routines on the host's time_t, from C99, and from C++ through
 * TimeBitsCalls.cpp; fortified when the host is built with _FORTIFY_SOURCE
 * and optimisation. Each build of this file defines the entry of its own
 * name (TimeBitsCalls.h). */
#include "TimeBitsCalls.h"

#include <stddef.h>
#include <string.h>

#include "SafeStdLib.h"

#if defined(_FORTIFY_SOURCE) && _FORTIFY_SOURCE > 0 && defined(__OPTIMIZE__)
#  ifdef __cplusplus
#    define TIME_BITS_CALLS TimeBitsFortifiedCallsFromCxx
#  else
#    define TIME_BITS_CALLS TimeBitsFortifiedCallsFromC
#  endif
#else
#  ifdef __cplusplus
#    define TIME_BITS_CALLS TimeBitsCallsFromCxx
#  else
#    define TIME_BITS_CALLS TimeBitsCallsFromC
#  endif
#endif

static int Returned(const void* got, const void* storage) {
  if (got == storage) return 1;
  return got == NULL ? 0 : -1;
}

/* The texts are written to buffers of this frame, whose size every
 * compiler knows, and copied out. */
void TIME_BITS_CALLS(const time_t* when, int textSize, struct TimeBitsResults* results) {
  char text[sizeof results->ctime];
  char fitted[sizeof results->ctimeFitted];
  memset(text, kUntouched, sizeof text);
  memset(fitted, kUntouched, sizeof fitted);
  results->gmtimeReturned = Returned(zuvo_gmtime(when, &results->gmtime), &results->gmtime);
  results->localtimeReturned =
      Returned(zuvo_localtime(when, &results->localtime), &results->localtime);
  results->ctimeReturned = Returned(zuvo_ctime(when, text, textSize), text);
  results->ctimeFittedReturned = Returned(zuvo_ctime(when, fitted, (int)sizeof fitted), fitted);
  memcpy(results->ctime, text, sizeof text);
  memcpy(results->ctimeFitted, fitted, sizeof fitted);
}
