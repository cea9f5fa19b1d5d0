// FortifyHostPatterns.cpp: host code that glibc's fortified headers accept,
// built with _FORTIFY_SOURCE as without it: the routines' names are
// functions, not macros, so a redeclaration, a member, a using-declaration,
// a qualified name, an overload of the host's own and any argument text
// mean what they mean without _FORTIFY_SOURCE. CheckFortifyHosts.cmake
// builds it with g++ and clang++ at each level, warnings as errors, and
// runs it: it exits 0 when every call gave the right result, and a call
// whose size is too big still ends the process.
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

// A class declared before the routines, with a member named like one.
struct Clock {
  char* zuvo_ctime(const time_t* when, char* buffer, int buffLen);
};

#include <SafeStdLib/SafeStdLib.h>

// A legacy header's own declaration of a routine.
extern "C" char* zuvo_strerror(int, char*, int);

template <int A, int B>
struct Room {
  static const int kLen = A * B;
};

// A member named like a routine.
struct Log {
  int zuvo_snprintf(char* out, size_t size, const char* fmt, ...);
};
int Log::zuvo_snprintf(char* out, size_t size, const char*, ...) {
  return out != nullptr && size > 0 ? 7 : 0;
}

char* Clock::zuvo_ctime(const time_t* when, char* buffer, int buffLen) {
  return ::zuvo_ctime(when, buffer, buffLen);
}

// The routine in a host's namespace, through a using-declaration.
namespace logx {
using ::zuvo_snprintf;
}

// An overload of the host's own.
int zuvo_snprintf(std::string& out, const char* text) {
  out = text;
  return static_cast<int>(out.size());
}

namespace {

int gWrong = 0;

void Expect(bool right, int line) {
  if (right) return;
  const char text[] = "FortifyHostPatterns: a wrong result\n";
  if (write(STDERR_FILENO, text, sizeof text - 1) < 0) {
    // The exit status says it too.
  }
  gWrong = line;
}

}  // namespace

int main() {
  char buffer[64];
  Expect(zuvo_strerror(2, buffer, Room<8, 8>::kLen) == buffer, __LINE__);
  Log log;
  Expect(log.zuvo_snprintf(buffer, sizeof buffer, "%d", 1) == 7, __LINE__);
  Expect(logx::zuvo_snprintf(buffer, sizeof buffer, "%d-%d", 1, 2) == 3, __LINE__);
  Expect(strcmp(buffer, "1-2") == 0, __LINE__);
  Expect(::zuvo_snprintf(buffer, sizeof buffer, "%s", "abc") == 3, __LINE__);
  Expect(zuvo_strerror(
             [] {
               int a = 1, b = 1;
               return a + b;
             }(),
             buffer, sizeof buffer) == buffer,
         __LINE__);
  std::string text;
  Expect(zuvo_snprintf(text, "hello") == 5 && text == "hello", __LINE__);
  const time_t epoch = 0;
  Clock clock;
  Expect(clock.zuvo_ctime(&epoch, buffer, 26) == buffer, __LINE__);
  int (*plain)(char*, size_t, const char*, ...) = &zuvo_snprintf;
  Expect(plain(buffer, sizeof buffer, "%d", 42) == 2, __LINE__);
  if (gWrong != 0) return 1;
  // Still fortified: 64 bytes of room in an 8-byte buffer ends the process.
  char small[8];
  volatile size_t room = 64;
  ::zuvo_snprintf(small, room, "%s", "too much room");
  return 2;
}
