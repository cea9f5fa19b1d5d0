// A host that makes a pthread key of its own after the library has
// started, so that its destructor runs after the library's in a thread that
// ends. The destructor takes the standard-library mutex and keeps it: the
// level must still be released at the thread's end, and another thread
// must then be able to take the mutex.
#include <pthread.h>
#include <stdio.h>

#include "OS.h"
#include "SafeStdLib.h"

namespace {

pthread_key_t gLateKey;

void LockAtThreadEnd(void*) OS_NO_THREAD_SAFETY_ANALYSIS { OS::GetStdLibMutex()->Lock(); }

// A routine call arms the library's own release at the thread's end.
void Call() {
  char text[8];
  zuvo_snprintf(text, sizeof text, "%d", 1);
}

void* SetKeyAndCall(void*) {
  pthread_setspecific(gLateKey, &gLateKey);
  Call();
  return nullptr;
}

}  // namespace

int main() OS_NO_THREAD_SAFETY_ANALYSIS {
  pthread_t thread;
  Call();  // the library's key is made by now, however late it makes it
  if (pthread_key_create(&gLateKey, LockAtThreadEnd) != 0 ||
      pthread_create(&thread, nullptr, SetKeyAndCall, nullptr) != 0 ||
      pthread_join(thread, nullptr) != 0)
    return 2;
  if (!OS::GetStdLibMutex()->TryLock()) {
    fprintf(stderr, "an ended thread still holds the mutex\n");
    return 1;
  }
  OS::GetStdLibMutex()->Unlock();
  return 0;
}
