/* FortifyCases.h: the fortify cases of every routine of the list
 * (SafeStdLib/internal/RoutineList.h) that has a checked entry, written in
 * C99 (FortifyC.c) and in C++ (FortifyTest.cpp), which runs both. Each
 * case's name is made from the routine's: a routine added to the list with
 * a checked entry leaves its cases undefined, and the test does not link,
 * until they are written; a new kind of checked entry does not compile. */
#ifndef SafeStdLib_FortifyCases_H
#define SafeStdLib_FortifyCases_H

#include <stddef.h>
#include <string.h>

#if defined(__GNUC__)
#  define FORTIFY_HOST_FORMAT(f, a) __attribute__((format(printf, f, a)))
#  define FORTIFY_NOINLINE __attribute__((noinline))
#else
#  define FORTIFY_HOST_FORMAT(f, a)
#  define FORTIFY_NOINLINE
#endif

/* A size case (CHECKED): the routine writes an 8-byte buffer, the compiler
 * knowing its size, given extra bytes of room more than fit (the unbounded
 * forms: a text extra characters longer than fits); 1 if the result is the
 * plain routine's. From 1 extra byte on, it must end the process. */
#define FORTIFY_SIZE_CASE(name) FortifyCSize_##name

/* A format case (FORMAT_CHECKED): the routine prints one of these formats,
 * given &count, "x" and "y"; 1 if its result, and the count %n stores, are
 * the plain routine's. */
enum FortifyFormatKind {
  kFortifyCountReadOnly,   /* "ab%n", in read-only memory: printed at every level */
  kFortifyCountWritable,   /* the same in writable memory: refused from level 2 on */
  kFortifyArgumentUnnamed, /* "%3$s", two arguments unnamed: refused from level 2 on */
  kFortifyArgumentsNamed,  /* "%3$s%2$s%1$n": printed at every level */
  kFortifyFormatKinds
};
#define FORTIFY_FORMAT_CASE(name) FortifyCFormat_##name

static const char kFortifyCountFormat[] = "ab%n";

/* The format of a case; writable, room for kFortifyCountFormat, receives
 * the copy that lies in writable memory. */
static inline const char* FortifyFormatOf(int kind, char* writable) {
  switch (kind) {
    case kFortifyCountReadOnly:
      return kFortifyCountFormat;
    case kFortifyCountWritable:
      memcpy(writable, kFortifyCountFormat, sizeof kFortifyCountFormat);
      return writable;
    case kFortifyArgumentUnnamed:
      return "%3$s";
    default:
      return "%3$s%2$s%1$n";
  }
}

/* Whether a case's result, and the count it stored, are the plain
 * routine's. */
static inline int FortifyFormatRight(int kind, int result, int count) {
  if (kind == kFortifyArgumentUnnamed) return result == 1;
  return result == 2 && count == 2;
}

/* The C cases each (linkage, checked) pair of the list has. */
#define FORTIFY_C_CASES_C_PLAIN(name)
#define FORTIFY_C_CASES_CXX_PLAIN(name)
#define FORTIFY_C_CASES_C_CHECKED(name) int FORTIFY_SIZE_CASE(name)(int extra);
#define FORTIFY_C_CASES_C_FORMAT_CHECKED(name) int FORTIFY_FORMAT_CASE(name)(int kind);
#define FORTIFY_C_CASES_C_CHECKED_AND_FORMAT_CHECKED(name) \
  FORTIFY_C_CASES_C_CHECKED(name) FORTIFY_C_CASES_C_FORMAT_CHECKED(name)
/* The capped printer is C++: its cases are FortifyTest.cpp's alone. */
#define FORTIFY_C_CASES_CXX_FORMAT_CHECKED(name)

#ifdef __cplusplus
extern "C" {
#endif

#define SAFESTDLIB_ROUTINE(name, linkage, kind, checked) FORTIFY_C_CASES_##linkage##_##checked(name)
#include "SafeStdLib/internal/RoutineList.h"
#undef SAFESTDLIB_ROUTINE

/* Calls that stay plain under _FORTIFY_SOURCE (the printers, from level 2
 * on, go to their format-checked entries): sizes known to fit, and buffer,
 * size bytes, of a size the compiler does not know. 1 if every result is
 * right. */
int FortifyPlainCalls(char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif
