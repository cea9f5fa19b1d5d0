/* FortifyTooBig.c: calls whose constant size is known not to fit the
 * buffer, one for each routine that takes a size. Built with
 * _FORTIFY_SOURCE, as C and as C++, by gcc and clang: each must warn at
 * compile time, "<routine> called with bigger size than length of
 * destination buffer" (CheckFortifyHosts.cmake), as glibc's own headers
 * warn of snprintf(buffer8, 64, ...). */
#include <SafeStdLib/SafeStdLib.h>
#include <stdarg.h>

int TooBigV(const char* fmt, va_list args);
int TooBigV(const char* fmt, va_list args) {
  char buffer[8];
  return zuvo_vsnprintf(buffer, 64, fmt, args);
}

int TooBig(const time_t* when, const struct tm* brokenDown);
int TooBig(const time_t* when, const struct tm* brokenDown) {
  char buffer[8];
  int result = zuvo_snprintf(buffer, 64, "%d", 1);
  result += (int)zuvo_strftime(buffer, 64, "%Y", brokenDown);
  result += zuvo_strerror(2, buffer, 64) != 0;
  result += zuvo_ctime(when, buffer, 26) != 0;
  result += zuvo_asctime(brokenDown, buffer, 26) != 0;
  return result;
}

/* Sizes that fit: no warning. */
int Fits(const time_t* when);
int Fits(const time_t* when) {
  char buffer[26];
  return zuvo_snprintf(buffer, sizeof buffer, "%d", 1) + (zuvo_ctime(when, buffer, 26) != 0);
}
