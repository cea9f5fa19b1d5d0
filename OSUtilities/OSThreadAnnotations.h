/*
 * OSThreadAnnotations.h: clang thread-safety attributes behind macros.
 *
 * With clang and -Wthread-safety, touching a value marked OS_GUARDED_BY(mu)
 * without holding mu is a compile-time error. Compilers without the
 * attributes see empty macros.
 */
#ifndef OSThreadAnnotations_H
#define OSThreadAnnotations_H

#if defined(__clang__) && defined(__has_attribute)
#  define OS_THREAD_ANNOTATION_(x) __attribute__((x))
#else
#  define OS_THREAD_ANNOTATION_(x)
#endif

#define OS_CAPABILITY(name) OS_THREAD_ANNOTATION_(capability(name))
#define OS_SCOPED_CAPABILITY OS_THREAD_ANNOTATION_(scoped_lockable)
#define OS_GUARDED_BY(mu) OS_THREAD_ANNOTATION_(guarded_by(mu))
#define OS_PT_GUARDED_BY(mu) OS_THREAD_ANNOTATION_(pt_guarded_by(mu))
#define OS_ACQUIRE(...) OS_THREAD_ANNOTATION_(acquire_capability(__VA_ARGS__))
#define OS_RELEASE(...) OS_THREAD_ANNOTATION_(release_capability(__VA_ARGS__))
#define OS_TRY_ACQUIRE(...) OS_THREAD_ANNOTATION_(try_acquire_capability(__VA_ARGS__))
#define OS_REQUIRES(...) OS_THREAD_ANNOTATION_(requires_capability(__VA_ARGS__))
#define OS_ASSERT_CAPABILITY(mu) OS_THREAD_ANNOTATION_(assert_capability(mu))
#define OS_RETURN_CAPABILITY(mu) OS_THREAD_ANNOTATION_(lock_returned(mu))
#define OS_NO_THREAD_SAFETY_ANALYSIS OS_THREAD_ANNOTATION_(no_thread_safety_analysis)

#endif /* OSThreadAnnotations_H */
