// Tests of zuvo_printf, zuvo_sprintf, zuvo_fprintf and zuvo_snprintf.

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

const char* const kNoFormat = nullptr;
FILE* const kNoFile = nullptr;
char* const kNoBuffer = nullptr;

TEST(FormattedOutput, NullGuardedArgumentReturnsMinusOneAndTouchesNothing) {
  const ChildResult child = RunInChild([] {
    CHILD_CHECK(zuvo_printf(kNoFormat) == -1);
    CHILD_CHECK(zuvo_fprintf(kNoFile, "%s", "lost") == -1);
    CHILD_CHECK(zuvo_sprintf(kNoBuffer, "%s", "lost") == -1);
    CHILD_CHECK(zuvo_snprintf(kNoBuffer, 0, "%s", "lost") == -1);
    CHILD_CHECK(zuvo_snprintf(kNoBuffer, 100, "%s", "lost") == -1);
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out, "");
}

TEST(FormattedOutput, WritesWhatTheCLibraryWrites) {
  const ChildResult child = RunInChild([] {
    CHILD_CHECK(zuvo_printf("%s-%d|", "printf", 1) == 9);
    CHILD_CHECK(zuvo_fprintf(stdout, "%s-%05.1f|", "fprintf", 2.25) == 14);
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out, "printf-1|fprintf-002.2|");
}

// A host thread holds a stream's lock (flockfile) and calls a routine while
// another thread prints to that stream through each printer: neither may
// wait for the other for good.
TEST(FormattedOutput, HostHoldingTheStreamLockNeverDeadlocks) {
  void (*const printers[])() = {
      [] { zuvo_printf("printf|"); },
      [] { zuvo_fprintf(stdout, "fprintf|"); },
      [] { zuvo_maxprintf("maxprintf|"); },
  };
  for (void (*print)() : printers) {
    const ChildResult child = RunInChild([print] {
      flockfile(stdout);
      Probe printer(print);
      usleep(50 * 1000);  // the printer now waits for the stream
      struct tm broken;
      const time_t when = 0;
      Probe host([&] { CHILD_CHECK(zuvo_localtime(&when, &broken) == &broken); });
      CHILD_CHECK(host.FinishedWithin(2000));
      CHILD_CHECK(!printer.FinishedWithin(50));
      funlockfile(stdout);
      CHILD_CHECK(printer.FinishedWithin(2000));
    });
    ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
    EXPECT_NE(child.out.find('|'), std::string::npos);
  }
}

// A printer and a host thread that groups its own writes under flockfile()
// take turns on one stream: each keeps the other out for its whole line, and
// each wakes the other when it gives the stream back.
TEST(FormattedOutput, PrintsAndFlockfileGroupsTakeTurnsOnAStream) {
  constexpr int kLines = 20000;
  const ChildResult child = RunInChild(
      [] {
        FILE* shared = tmpfile();
        CHILD_CHECK(shared != nullptr);
        CHILD_CHECK(setvbuf(shared, nullptr, _IONBF, 0) == 0);
        std::thread host([shared] {
          for (int i = 0; i < kLines; ++i) {
            flockfile(shared);
            fputs("h1", shared);
            fputs("h2\n", shared);
            funlockfile(shared);
          }
        });
        for (int i = 0; i < kLines; ++i) CHILD_CHECK(zuvo_fprintf(shared, "p1p2\n") == 5);
        host.join();
        rewind(shared);
        std::string text = ReadAll(fileno(shared));
        for (size_t at = 0; at < text.size(); at += 5) {
          const std::string line = text.substr(at, 5);
          CHILD_CHECK(line == "p1p2\n" || line == "h1h2\n");
        }
        CHILD_CHECK(text.size() == 2 * kLines * 5);
      },
      60);
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

TEST(Sprintf, WritesTheWholeTextAndItsTerminator) {
  char buffer[16];
  memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(zuvo_sprintf(buffer, "%s=%x", "key", 255u), 6);
  EXPECT_STREQ(buffer, "key=ff");
  EXPECT_EQ(buffer[7], 'Z');
}

TEST(Snprintf, CutsToSizeAndReturnsTheWholeLength) {
  char buffer[8];
  memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(zuvo_snprintf(buffer, 4, "%s", "abcdef"), 6);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'Z');

  memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(zuvo_snprintf(buffer, 0, "%s", "abcdef"), 6);
  EXPECT_EQ(buffer[0], 'Z') << "size 0 stores nothing";
}

TEST(FormattedOutput, IsNeitherCountedNorCapped) {
  const ChildResult child = RunInChild([] {
    zuvo_setmaxprintfcharsinK(0);
    const std::string big(4096, 'u');
    CHILD_CHECK(zuvo_printf("%s", big.c_str()) == 4096);
    CHILD_CHECK(zuvo_fprintf(stdout, "%s", big.c_str()) == 4096);
    CHILD_CHECK(zuvo_maxprintf("a") == 1);  // the total was still 0
    CHILD_CHECK(zuvo_maxprintf("r") == -1);
    CHILD_CHECK(zuvo_printf("after") == 5);
  });
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
  EXPECT_EQ(child.out,
            std::string(8192, 'u') + "a\nReached maximum configured output limit = 0K\nafter");
}

// Threads print long records through zuvo_printf (shared stdout) and
// zuvo_fprintf (a stream of their own), all on one pipe. The streams have no
// lock in common, and a record spans several writes, so only the
// standard-library mutex keeps each record whole.
TEST(FormattedOutput, EachCallsTextArrivesWhole) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 40;
  constexpr size_t kLength = 20000;
  const ChildResult child = RunInChild(
      [] {
        int fds[2];
        CHILD_CHECK(pipe(fds) == 0);
        std::string received;
        std::thread reader([&] { received = ReadAll(fds[0]); });
        CHILD_CHECK(dup2(fds[1], STDOUT_FILENO) == STDOUT_FILENO);
        CHILD_CHECK(setvbuf(stdout, nullptr, _IONBF, 0) == 0);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
          writers.emplace_back([t, &fds] {
            FILE* own = fdopen(dup(fds[1]), "w");
            CHILD_CHECK(own != nullptr);
            CHILD_CHECK(setvbuf(own, nullptr, _IONBF, 0) == 0);
            const std::string body(kLength, static_cast<char>('A' + t));
            for (int i = 0; i < kRecords; ++i) {
              if (i % 2 == 0) {
                CHILD_CHECK(zuvo_printf("%s\n", body.c_str()) == kLength + 1);
              } else {
                CHILD_CHECK(zuvo_fprintf(own, "%s\n", body.c_str()) == kLength + 1);
              }
            }
            fclose(own);
          });
        }
        for (std::thread& w : writers) w.join();
        CHILD_CHECK(freopen("/dev/null", "w", stdout) != nullptr);
        close(fds[1]);
        reader.join();
        CHILD_CHECK(received.size() == kThreads * kRecords * (kLength + 1));
        for (size_t at = 0; at < received.size(); at += kLength + 1) {
          const char first = received[at];
          CHILD_CHECK(received.find_first_not_of(first, at) == at + kLength);
          CHILD_CHECK(received[at + kLength] == '\n');
        }
      },
      120);
  ASSERT_TRUE(child.ExitedCleanly()) << child.Describe();
}

}  // namespace
