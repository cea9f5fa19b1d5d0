// A shared library whose constructor registers an exit handler with
// __cxa_atexit(fn, arg, NULL): registered before the C library's own
// finalisation handler, it runs after every other exit handler and
// destructor, after the exit hold. The host says what it runs.
#include <stddef.h>

extern "C" int __cxa_atexit(void (*func)(void*), void* arg, void* dsoHandle);

namespace {

void (*gLate)() = nullptr;

void RunLate(void*) {
  if (gLate != nullptr) gLate();
}

__attribute__((constructor)) void RegisterLate() { (void)__cxa_atexit(RunLate, nullptr, nullptr); }

}  // namespace

extern "C" __attribute__((visibility("default"))) void SetLateExitHandler(void (*late)()) {
  gLate = late;
}
