/* FortifyCases.h: the fortified calls of FortifyC.c (C99) and
 * FortifyPlainCalls.c, for FortifyTest.cpp. */
#ifndef SafeStdLib_FortifyCases_H
#define SafeStdLib_FortifyCases_H

#include <stddef.h>

#if defined(__GNUC__)
#  define FORTIFY_HOST_FORMAT(f, a) __attribute__((format(printf, f, a)))
#  define FORTIFY_NOINLINE __attribute__((noinline))
#else
#  define FORTIFY_HOST_FORMAT(f, a)
#  define FORTIFY_NOINLINE
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An 8-byte buffer, the compiler knowing its size, written with size n (the
 * unbounded forms: a text of n characters); 1 if the result is right. */
int FortifyCSprintf(int n);
int FortifyCVsprintf(int n);
int FortifyCSnprintf(int n);
int FortifyCVsnprintf(int n);
int FortifyCStrftime(int n);
int FortifyCStrerror(int n);
int FortifyCCtime(int n);
int FortifyCAsctime(int n);

/* Calls that stay plain under _FORTIFY_SOURCE: sizes known to fit, and
 * buffer, size bytes, of a size the compiler does not know. 1 if every
 * result is right. */
int FortifyPlainCalls(char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
