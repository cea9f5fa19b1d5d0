// OSPlatform.h: what the library knows of the system it is built for,
// decided once, and the little code that differs by architecture.
//
// Private to the library; never installed. Every fact is a macro that is
// always defined, to 1 or 0, so that `#if OS_GLIBC` reads the same
// everywhere; a definition from outside (a compiler flag, a host's header)
// is refused, as abseil's config.h refuses its own.
//
//   OS_LINUX        the Linux kernel (futexes, /proc, the ELF loader)
//   OS_GLIBC        glibc, whose headers define __GLIBC__; uClibc-ng defines
//                   __GLIBC__ too, without glibc's dynamic linker or mutex,
//                   and is not glibc here
//   OS_MUSL         musl, which names itself with no macro: Linux with
//                   neither glibc's nor uClibc-ng's nor bionic's headers
//   OS_ELF          an ELF target, whose dynamic linker binds by symbol name
//   OS_X86_64, OS_X86_32, OS_AARCH64, OS_ARM32
//                   the architecture; OS_X86 for either x86, OS_64_BIT for
//                   64-bit pointers
//   OS_TSAN         a ThreadSanitizer build, which must see every access
//                   that another thread may race with as atomic
#ifndef OSPlatform_H
#define OSPlatform_H

#include <limits.h>  // defines __GLIBC__ through the C library's own headers
#include <stdint.h>

#if defined(OS_LINUX) || defined(OS_GLIBC) || defined(OS_MUSL) || defined(OS_ELF) ||        \
    defined(OS_X86_64) || defined(OS_X86_32) || defined(OS_AARCH64) || defined(OS_ARM32) || \
    defined(OS_X86) || defined(OS_64_BIT) || defined(OS_TSAN) || defined(OS_THREAD_POINTER)
#  error "OSPlatform.h decides the OS_ platform macros; they cannot be set from outside"
#endif

#if defined(__linux__)
#  define OS_LINUX 1
#else
#  define OS_LINUX 0
#endif

#if defined(__GLIBC__) && !defined(__UCLIBC__)
#  define OS_GLIBC 1
#else
#  define OS_GLIBC 0
#endif

#if OS_LINUX && !defined(__GLIBC__) && !defined(__UCLIBC__) && !defined(__BIONIC__)
#  define OS_MUSL 1
#else
#  define OS_MUSL 0
#endif

#if defined(__ELF__)
#  define OS_ELF 1
#else
#  define OS_ELF 0
#endif

#if defined(__x86_64__)
#  define OS_X86_64 1
#else
#  define OS_X86_64 0
#endif
#if defined(__i386__)
#  define OS_X86_32 1
#else
#  define OS_X86_32 0
#endif
#if defined(__aarch64__)
#  define OS_AARCH64 1
#else
#  define OS_AARCH64 0
#endif
#if defined(__arm__)
#  define OS_ARM32 1
#else
#  define OS_ARM32 0
#endif
#define OS_X86 (OS_X86_64 || OS_X86_32)
#if UINTPTR_MAX > 0xffffffffu
#  define OS_64_BIT 1
#else
#  define OS_64_BIT 0
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

namespace OSPlatform {

// CpuRelax(): tells the processor that the thread spins, so that it yields
// the core's shared resources to its sibling and saves power: x86's pause,
// ARM's yield (ARMv7 on; earlier cores have no hint).
inline void CpuRelax() {
#if OS_X86
  __builtin_ia32_pause();
#elif OS_AARCH64 || (OS_ARM32 && defined(__ARM_ARCH) && __ARM_ARCH >= 7)
  __asm__ __volatile__("yield");
#endif
}

// ThreadPointer(): the thread pointer, read with one instruction, where
// OS_THREAD_POINTER is 1. Inline assembly rather than
// __builtin_thread_pointer(), which g++ before 11 and clang before 12
// reject or miscompile on these targets although __has_builtin reports it.
#if OS_X86_64 || OS_X86_32 || OS_AARCH64 || OS_ARM32
#  define OS_THREAD_POINTER 1
inline uintptr_t ThreadPointer() {
  uintptr_t pointer;
#  if OS_X86_64
  __asm__("movq %%fs:0, %0" : "=r"(pointer));
#  elif OS_X86_32
  __asm__("movl %%gs:0, %0" : "=r"(pointer));
#  elif OS_AARCH64
  __asm__("mrs %0, tpidr_el0" : "=r"(pointer));
#  else
  __asm__("mrc p15, 0, %0, c13, c0, 3" : "=r"(pointer));
#  endif
  return pointer;
}
#else
#  define OS_THREAD_POINTER 0
#endif

}  // namespace OSPlatform

#endif  // OSPlatform_H
