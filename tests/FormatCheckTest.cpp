// FormatCheckTest.cpp: the format-checked entries' checks (FormatCheck.h)
// decide as glibc's own fortified printer does, on the glibc the test runs
// on: each format, in read-only and in writable memory, is refused by the
// checks alone, with glibc's message, exactly when glibc's __snprintf_chk
// refuses it; and a format with %n is never left for glibc to check again
// under the mutex.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "SafeStdLib/internal/FormatCheck.h"
#include "TestSupport.h"

#if defined(__GLIBC__)

// glibc's flag-taking printer, by a name of its own.
extern "C" int GlibcSnprintfChk(char* str, size_t size, int flag, size_t objsize, const char* fmt,
                                ...) __asm__("__snprintf_chk");

namespace {

// A format and what it is given: four ints, or four int pointers (for %n).
struct Format {
  const char* text;
  bool counts;
};

const Format kFormats[] = {
    {"%d", false},
    {"%1$d", false},
    {"%2$d", false},
    {"%1$d%3$d", false},
    {"%3$d%1$d%2$d", false},
    {"%1$d %d", false},
    {"%d %2$d", false},
    {"%2$*1$d", false},
    {"%1$.*3$d%2$d", false},
    {"%%%1$d", false},
    {"%1$m%2$d", false},
    {"%-1$d %3$d", false},
    {"%0$d", false},
    {"%4$d%1$d", false},
    {"%1$c%2$c%4$c", false},
    {"%1$hhd%2$hd%3$d", false},
    {"%5000$d", false},
    {"%n", true},
    {"ab%n", true},
    {"%hhn", true},
    {"%5n", true},
    {"%-n", true},
    {"%.3n", true},
    {"%ln", true},
    {"%jn", true},
    {"%zn", true},
    {"%%n", true},
    {"%1$n%3$n", true},
    {"%n%2$n", true},
    {"%p%n", true},
    {"%1$n%2$n%3$n%4$n", true},
    {"% 'In", true},
};

// What happened in a child that ran body: "printed", or the signal and
// what it wrote on standard error.
template <class Body>
std::string Outcome(Body body) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    setenv("LIBC_FATAL_STDERR_", "1", 1);
    body();
    _exit(0);
  }
  close(fds[1]);
  const std::string err = ReadAll(fds[0]);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "printed";
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status)) + ": " + err;
  return "status " + std::to_string(status) + ": " + err;
}

// The format's text in read-only memory, or a copy in writable memory.
const char* Place(const Format& format, bool writable, char* copy) {
  if (!writable) return format.text;
  strcpy(copy, format.text);
  return copy;
}

TEST(FormatCheck, RefusesWhatGlibcRefuses) {
  // A sanitizer's runtime prints in glibc's printer's stead, and checks
  // nothing.
  if (kSanitized) GTEST_SKIP() << "the sanitizer's printer is not glibc's";
  for (const Format& format : kFormats) {
    for (bool writable : {false, true}) {
      const std::string glibc = Outcome([&] {
        char copy[64], out[64];
        const char* fmt = Place(format, writable, copy);
        int a = 0, b = 0, c = 0, d = 0;
        if (format.counts)
          GlibcSnprintfChk(out, sizeof out, 1, sizeof out, fmt, &a, &b, &c, &d);
        else
          GlibcSnprintfChk(out, sizeof out, 1, sizeof out, fmt, 1, 2, 3, 4);
      });
      const std::string checks = Outcome([&] {
        char copy[64];
        (void)SafeStdLibPrivate::CheckFormat(1, Place(format, writable, copy));
      });
      EXPECT_EQ(checks, glibc) << "\"" << format.text << "\"" << (writable ? ", writable" : "");
    }
  }
}

// glibc's printer may check again only a format that has no %n: that
// check would read /proc/self/maps under the mutex.
TEST(FormatCheck, LeavesGlibcNoCountToCheck) {
  EXPECT_TRUE(SafeStdLibPrivate::CheckFormat(1, "%s %d"));
  EXPECT_TRUE(SafeStdLibPrivate::CheckFormat(2, "%2$s %1$d"));
  EXPECT_FALSE(SafeStdLibPrivate::CheckFormat(1, "%s%n"));
  EXPECT_FALSE(SafeStdLibPrivate::CheckFormat(1, "%1$s%2$n"));
  EXPECT_FALSE(SafeStdLibPrivate::CheckFormat(0, "%s"));
}

}  // namespace

#endif  // __GLIBC__
