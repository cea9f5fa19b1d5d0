// OSPlatform.h: what the library knows of the C library it is built for,
// decided once.
//
// Private to the library; never installed. OS_GLIBC is 1 on glibc, whose
// headers define __GLIBC__; uClibc-ng defines __GLIBC__ too, without
// glibc's dynamic linker or mutex, and is not glibc here.
#ifndef OSPlatform_H
#define OSPlatform_H

#include <limits.h>  // defines __GLIBC__ through the C library's own headers

#ifdef OS_GLIBC
#  error "OS_GLIBC cannot be set from outside: OSPlatform.h decides it"
#endif
#if defined(__GLIBC__) && !defined(__UCLIBC__)
#  define OS_GLIBC 1
#endif

// OS_TSAN: 1 in a ThreadSanitizer build, which must see every access that
// another thread may race with as atomic.
#ifdef OS_TSAN
#  error "OS_TSAN cannot be set from outside: OSPlatform.h decides it"
#endif
#if defined(__SANITIZE_THREAD__)
#  define OS_TSAN 1
#elif defined(__has_feature)
#  if __has_feature(thread_sanitizer)
#    define OS_TSAN 1
#  endif
#endif
#ifndef OS_TSAN
#  define OS_TSAN 0
#endif

// CpuRelax(): tells the processor that the thread spins, so that it yields
// the core's shared resources to its sibling and saves power: x86's pause,
// ARM's yield (ARMv7 on; earlier cores have no hint).
namespace OSPlatform {
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || (defined(__arm__) && defined(__ARM_ARCH) && __ARM_ARCH >= 7)
  __asm__ __volatile__("yield");
#endif
}
}  // namespace OSPlatform

#endif  // OSPlatform_H
