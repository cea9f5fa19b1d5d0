// OSCancelCleanup.h: cleanup on thread cancellation that does not depend on
// unwinding through the C library's frames.
//
// Private to the library; never installed. OS_CANCEL_CLEANUP_PUSH(fn, arg)
// and OS_CANCEL_CLEANUP_POP(), each followed by a semicolon, bracket a call
// into the C library in one block, like pthread_cleanup_push() and
// pthread_cleanup_pop(0): if the
// thread is cancelled or calls pthread_exit() in between, fn(arg) runs once,
// and the normal way out runs nothing.
//
// In C++, glibc's own pthread_cleanup_push() is an object whose destructor
// runs fn, so it relies on unwinding, and unwinding fails where the C
// library's frames carry no unwind entries (glibc's stdio on armhf) or where
// the host's C++ runtime brings another unwinder (libc++'s). glibc's
// cancellation also runs a chain of cleanup buffers, kept in the thread's
// descriptor, as it leaves each frame that registered one, and all of them
// when it cannot unwind further; it uses that chain for its own stdio
// locks. The routines register there, with the C library's own entries for
// it.
#ifndef OSCancelCleanup_H
#define OSCancelCleanup_H

#include <pthread.h>

#include "OSUtilities/internal/OSPlatform.h"

#if OS_GLIBC

// Exported by glibc on every target, and left out of its headers.
extern "C" {
void _pthread_cleanup_push(struct _pthread_cleanup_buffer* buffer, void (*routine)(void*),
                           void* arg) noexcept;
void _pthread_cleanup_pop(struct _pthread_cleanup_buffer* buffer, int execute) noexcept;
}

#  define OS_CANCEL_CLEANUP_PUSH(fn, arg)        \
    do {                                         \
      struct _pthread_cleanup_buffer osCleanup_; \
    _pthread_cleanup_push(&osCleanup_, (fn), (arg))
#  define OS_CANCEL_CLEANUP_POP()         \
    _pthread_cleanup_pop(&osCleanup_, 0); \
    }                                     \
    while (0)

#else

// musl's pthread_cleanup_push() is a buffer on the same pattern, and its
// cancellation never unwinds.
#  define OS_CANCEL_CLEANUP_PUSH(fn, arg) pthread_cleanup_push((fn), (arg))
#  define OS_CANCEL_CLEANUP_POP() pthread_cleanup_pop(0)

#endif

#endif  // OSCancelCleanup_H
