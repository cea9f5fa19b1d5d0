// host.cpp: four threads log through a logging function of the host's own.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>
#include <stdarg.h>

#include <chrono>
#include <thread>
#include <vector>

__attribute__((format(printf, 1, 2))) static void Log(const char* fmt, ...) {
  OSMutexLocker line(OS::GetStdLibMutex());  // the stamp and the text: one line
  char stamp[16];
  struct tm now;
  const time_t t = time(nullptr);
  zuvo_strftime(stamp, sizeof stamp, "%H:%M:%S", zuvo_localtime(&t, &now));
  zuvo_printf("%s ", stamp);
  va_list args;
  va_start(args, fmt);
  zuvo_vprintf(fmt, args);
  va_end(args);
}

int main() {
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w)
    workers.emplace_back([w] {
      for (int i = 0; i < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // serve request i
        Log("worker %d: request %d done\n", w, i);
      }
    });
  for (std::thread& worker : workers) worker.join();
  Log("lock waits: %llu\n", (unsigned long long)OS::GetStdLibMutexContention().fContendedLocks);
}
