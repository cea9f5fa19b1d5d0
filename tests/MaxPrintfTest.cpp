// Tests of the capped console printer. Each case runs in its own child
// process: the running total never resets.

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdarg.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

const char* const kNoFormat = nullptr;

// What a child prints: `printed`, then the notice for limitInK. Built by
// appending: g++ 12 at -O3 warns (-Wrestrict) inside libstdc++ for
// "literal" + std::string.
std::string WithNotice(std::string printed, unsigned limitInK) {
  printed += "\nReached maximum configured output limit = ";
  printed += std::to_string(limitInK);
  printed += "K\n";
  return printed;
}

std::string Notice(unsigned limitInK) { return WithNotice("", limitInK); }

// Prints exactly n characters through the capped printer.
int PrintChars(size_t n) {
  const std::string text(n, 'x');
  return zuvo_maxprintf("%s", text.c_str());
}

// Runs body in a child and expects it to succeed; returns what it printed.
std::string PrintedByChild(const std::function<void()>& body, unsigned timeoutSeconds = 30) {
  const ChildResult child = RunInChild(body, timeoutSeconds);
  EXPECT_TRUE(child.ExitedCleanly()) << child.Describe();
  return child.out;
}

TEST(MaxPrintf, StartsWithTheDefaultLimitAndPrints) {
  const std::string out = PrintedByChild([] {
    CHILD_CHECK(zuvo_getmaxprintfcharsinK() == 100000);
    CHILD_CHECK(zuvo_maxprintf("hello %s %d\n", "world", 7) == 14);
  });
  EXPECT_EQ(out, "hello world 7\n");
}

TEST(MaxPrintf, NullFormatChangesNeitherTotalNorNotice) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(zuvo_maxprintf(kNoFormat) == -1);
    CHILD_CHECK(zuvo_maxprintf("a") == 1);   // the total was still 0
    CHILD_CHECK(zuvo_maxprintf("b") == -1);  // notice
    CHILD_CHECK(zuvo_maxprintf(kNoFormat) == -1);
    CHILD_CHECK(zuvo_maxprintf("c") == -1);  // still silent
  });
  EXPECT_EQ(out, WithNotice("a", 0));
}

TEST(MaxPrintf, TotalEqualToTheLimitStillPrints) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(1);
    CHILD_CHECK(PrintChars(1000) == 1000);
    CHILD_CHECK(PrintChars(24) == 24);      // total 1024: equal, not above
    CHILD_CHECK(zuvo_maxprintf("y") == 1);  // total 1025
    CHILD_CHECK(zuvo_maxprintf("z") == -1);
    CHILD_CHECK(zuvo_maxprintf("z") == -1);
  });
  EXPECT_EQ(out, std::string(1024, 'x') + "y" + Notice(1));
}

TEST(MaxPrintf, ZeroLimitAllowsOneNonEmptyPrint) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(zuvo_maxprintf("%s", "") == 0);
    CHILD_CHECK(zuvo_maxprintf("%s", "") == 0);  // total still 0
    CHILD_CHECK(PrintChars(5000) == 5000);       // allowed whole, however long
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
  });
  EXPECT_EQ(out, std::string(5000, 'x') + Notice(0));
}

// A host's own logging function, forwarding to the v-form.
__attribute__((format(printf, 1, 2))) int HostLog(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int result = zuvo_vmaxprintf(fmt, args);
  va_end(args);
  return result;
}

// The v-form counts into the same total against the same limit, with the
// same guard, notice and silence, interleaved with the variadic form.
TEST(MaxPrintf, TheVFormSharesTheTotalTheLimitAndTheNotice) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(1);
    CHILD_CHECK(HostLog(kNoFormat) == -1);
    CHILD_CHECK(HostLog("%s", std::string(1000, 'x').c_str()) == 1000);
    CHILD_CHECK(PrintChars(24) == 24);       // total 1024
    CHILD_CHECK(HostLog("%c", 'y') == 1);    // total 1025
    CHILD_CHECK(HostLog("%c", 'z') == -1);   // notice
    CHILD_CHECK(zuvo_maxprintf("z") == -1);  // silent
    CHILD_CHECK(HostLog("%c", 'z') == -1);   // silent
  });
  EXPECT_EQ(out, std::string(1024, 'x') + "y" + Notice(1));
}

TEST(MaxPrintf, RaisingTheLimitResumesAndTheNoticeComesAgain) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(PrintChars(1024) == 1024);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
    // 1 K equals the total exactly; the notice was not counted.
    zuvo_setmaxprintfcharsinK(1);
    CHILD_CHECK(zuvo_maxprintf("p") == 1);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
  });
  EXPECT_EQ(out, std::string(1024, 'x') + Notice(0) + "p" + Notice(1));
}

TEST(MaxPrintf, SettingTheSameLimitAfterExhaustionChangesNothing) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(zuvo_maxprintf("a") == 1);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(zuvo_getmaxprintfcharsinK() == 0);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
  });
  EXPECT_EQ(out, WithNotice("a", 0));
}

TEST(MaxPrintf, DefaultLimitNoticeCarriesTheLimitInK) {
  const std::string out = PrintedByChild([] {
    // Print just past 102400000 characters to /dev/null, then come back.
    const int captured = dup(STDOUT_FILENO);
    const int devNull = open("/dev/null", O_WRONLY);
    CHILD_CHECK(captured >= 0 && devNull >= 0);
    fflush(stdout);
    CHILD_CHECK(dup2(devNull, STDOUT_FILENO) == STDOUT_FILENO);
    const std::string mega(1 << 20, 'x');
    for (int i = 0; i < 97; ++i) CHILD_CHECK(zuvo_maxprintf("%s", mega.c_str()) == 1 << 20);
    CHILD_CHECK(PrintChars(102400000 - 97 * (1 << 20)) > 0);  // total == limit
    CHILD_CHECK(zuvo_maxprintf("!") == 1);
    fflush(stdout);
    CHILD_CHECK(dup2(captured, STDOUT_FILENO) == STDOUT_FILENO);
    CHILD_CHECK(zuvo_maxprintf("refused") == -1);
  });
  EXPECT_EQ(out, Notice(100000));
}

// 4194304 K is 2^32 characters: formed in 32 bits the limit would be 0.
TEST(MaxPrintf, LimitIsFormedIn64Bits) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(4194304u);
    CHILD_CHECK(zuvo_maxprintf("abc") == 3);
    CHILD_CHECK(zuvo_maxprintf("def") == 3);
    zuvo_setmaxprintfcharsinK(4294967295u);
    CHILD_CHECK(zuvo_getmaxprintfcharsinK() == 4294967295u);
    CHILD_CHECK(zuvo_maxprintf("g") == 1);
  });
  EXPECT_EQ(out, "abcdefg");
}

TEST(MaxPrintf, OutputFailureIsReturnedAndNotCounted) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(0);
    const int captured = dup(STDOUT_FILENO);
    CHILD_CHECK(captured >= 0);
    CHILD_CHECK(setvbuf(stdout, nullptr, _IONBF, 0) == 0);
    CHILD_CHECK(close(STDOUT_FILENO) == 0);
    errno = 0;
    CHILD_CHECK(zuvo_maxprintf("lost") < 0);
    CHILD_CHECK(errno == EBADF);
    CHILD_CHECK(dup2(captured, STDOUT_FILENO) == STDOUT_FILENO);
    clearerr(stdout);
    // Had the failure been added, the total would have wrapped far above 0.
    CHILD_CHECK(zuvo_maxprintf("kept") == 4);
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
  });
  EXPECT_EQ(out, WithNotice("kept", 0));
}

// glibc writes a text of more than INT_MAX characters, then fails the print
// with EOVERFLOW. That print passes any limit, the largest one included.
TEST(MaxPrintf, PrintTooLongToCountPassesTheLimit) {
  const std::string out = PrintedByChild(
      [] {
        zuvo_setmaxprintfcharsinK(4294967295u);
        const int captured = dup(STDOUT_FILENO);
        const int devNull = open("/dev/null", O_WRONLY);
        CHILD_CHECK(captured >= 0 && devNull >= 0);
        CHILD_CHECK(dup2(devNull, STDOUT_FILENO) == STDOUT_FILENO);
        volatile int width = INT_MAX - 1;  // a constant would draw -Wformat-overflow
        errno = 0;
        CHILD_CHECK(zuvo_maxprintf("%*d%d", width, 1, 22) == -1);
        CHILD_CHECK(errno == EOVERFLOW);
        fflush(stdout);
        CHILD_CHECK(dup2(captured, STDOUT_FILENO) == STDOUT_FILENO);
        CHILD_CHECK(zuvo_maxprintf("refused") == -1);
        CHILD_CHECK(zuvo_maxprintf("refused") == -1);
      },
      120);
  EXPECT_EQ(out, Notice(4294967295u));
}

TEST(MaxPrintf, LeavesErrnoAsTheCLibraryLeftIt) {
  PrintedByChild([] {
    errno = 4242;
    CHILD_CHECK(zuvo_maxprintf("ok") == 2);
    CHILD_CHECK(errno == 4242);
    CHILD_CHECK(zuvo_getmaxprintfcharsinK() == 100000 && errno == 4242);
    zuvo_setmaxprintfcharsinK(0);
    CHILD_CHECK(errno == 4242);
    CHILD_CHECK(zuvo_maxprintf(kNoFormat) == -1 && errno == 4242);
  });
}

// Threads print whole lines until the limit refuses them: the printed text
// is exactly the sum of the results, plus one notice.
TEST(MaxPrintf, ThreadsShareOneTotalAndOneNotice) {
  const std::string out = PrintedByChild([] {
    zuvo_setmaxprintfcharsinK(64);
    constexpr int kThreads = 4;
    long printed[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t, &printed] {
        for (int i = 0; i < 2000; ++i) {
          const int n = zuvo_maxprintf("thread %d line %04d %s\n", t, i, "................");
          if (n > 0) printed[t] += n;
        }
      });
    }
    for (std::thread& th : threads) th.join();
    long total = 0;
    for (long n : printed) total += n;
    CHILD_CHECK(total > 64 * 1024);
    CHILD_CHECK(total < 64 * 1024 + 100);
    printf("=%ld", total);
  });
  const size_t mark = out.rfind('=');
  ASSERT_NE(mark, std::string::npos);
  const std::string body = out.substr(0, mark);
  const size_t total = std::stoul(out.substr(mark + 1));
  const std::string notice = Notice(64);
  const size_t at = body.find(notice);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(body.find(notice, at + 1), std::string::npos) << "one notice only";
  EXPECT_EQ(body.size() - notice.size(), total);
}

}  // namespace
