/*
 * OSHeaders.h: the host's basic types and the library's export macro.
 *
 * Valid C99 and C++11. Every other header of the library includes it.
 */
#ifndef OSHeaders_H
#define OSHeaders_H

#include <stdint.h>

/* UInt32 is exactly `unsigned int`: the mangled names of the exported C++
 * entries (`zuvo_setmaxprintfcharsinK(unsigned int)`) depend on it. */
typedef unsigned int UInt32;
typedef uint64_t UInt64;
typedef int16_t SInt16;

/* A 16-bit boolean: 0 is false, anything else true. */
typedef SInt16 Bool16;

/* SAFESTDLIB_API marks an exported entry. The library builds with hidden
 * visibility and SAFESTDLIB_BUILDING defined; everyone else imports. */
#if defined(_WIN32)
#  if defined(SAFESTDLIB_BUILDING)
#    define SAFESTDLIB_API __declspec(dllexport)
#  elif defined(SAFESTDLIB_SHARED)
#    define SAFESTDLIB_API __declspec(dllimport)
#  else
#    define SAFESTDLIB_API
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define SAFESTDLIB_API __attribute__((visibility("default")))
#else
#  define SAFESTDLIB_API
#endif

#endif /* OSHeaders_H */
