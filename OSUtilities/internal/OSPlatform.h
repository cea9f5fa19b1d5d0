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

#endif  // OSPlatform_H
