// OSProcessUnique.h: one definition per process for the library's shared
// state, however many copies of the library the process holds.
//
// Private to the library; never installed. A process may hold several
// copies: the static library in the executable and in plugins loaded with
// RTLD_LOCAL, the shared library beside them. ELF's STB_GNU_UNIQUE binding
// makes glibc's dynamic linker bind every copy's references to the first
// definition it sees, across RTLD_LOCAL too, and keeps the object that
// holds it loaded for good. Every reference must then go through the
// dynamic linker: the library is position-independent and the symbols have
// default visibility.
#ifndef OSProcessUnique_H
#define OSProcessUnique_H

#include "OSUtilities/internal/OSPlatform.h"

// OS_PROCESS_UNIQUE("mangled") marks the variable of that symbol name, which
// must be defined in the same file after it and referenced nowhere in that
// file (clang's assembler rejects the change of binding otherwise).
// uClibc-ng's dynamic linker lacks the binding, and is not OS_GLIBC.
#if OS_GLIBC && OS_ELF && OS_LINUX
#  define OS_PROCESS_UNIQUE(symbol) __asm__(".type " symbol ", %gnu_unique_object");
#else
#  define OS_PROCESS_UNIQUE(symbol)
#endif

// OS_PROCESS_STORAGE goes on each such definition. Every copy of the
// library defines the variable and all but one definition go unused, which
// clang's AddressSanitizer would report as an ODR violation.
#if defined(__clang__)
#  define OS_PROCESS_STORAGE __attribute__((no_sanitize("address")))
#else
#  define OS_PROCESS_STORAGE
#endif

#endif  // OSProcessUnique_H
