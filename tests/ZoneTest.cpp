// Tests of how zuvo_localtime and zuvo_ctime follow the process's time zone,
// and of what the routines cost in system calls.
//
// A zone the host sets with setenv(), putenv() or unsetenv(), with or
// without its own tzset(), is used by the very next call. A replaced
// /etc/localtime with TZ unset is seen within about one second: the
// routines look at the zone file at most once per second of wall-clock
// time, so a call makes no system call of its own. The zone is state of the
// whole process, so every case runs in a forked child.

#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "OS.h"
#include "SafeStdLib.h"
#include "TestSupport.h"

namespace {

// ---- The zones the cases switch between, each as a POSIX string and as a
// zone file, and what each makes of one fixed time.

const time_t kWhen = 1234567890;  // 2009-02-13 23:31:30 UTC, a Friday

struct Zone {
  const char* posix;  // a TZ value that reads no file
  const char* file;   // the same zone under the zone directory, in February 2009
  long gmtoff;
  const char* name;
  int hour;
  const char* ctimeText;
};

const Zone kUtc = {"UTC0", "UTC", 0, "UTC", 23, "Fri Feb 13 23:31:30 2009\n"};
const Zone kEst = {"EST5", "America/New_York", -5 * 3600, "EST", 18, "Fri Feb 13 18:31:30 2009\n"};
const Zone kJst = {"JST-9", "Asia/Tokyo", 9 * 3600, "JST", 8, "Sat Feb 14 08:31:30 2009\n"};

const char kZoneDir[] = "/usr/share/zoneinfo";
const char kLocaltime[] = "/etc/localtime";

// A child that cannot run its case ends with this code, the reason on its
// standard output.
constexpr int kChildSkipped = 77;

[[noreturn]] void SkipChild(const std::string& why) {
  printf("%s\n", why.c_str());
  fflush(stdout);
  _exit(kChildSkipped);
}

bool Skipped(const ChildResult& result) {
  return WIFEXITED(result.status) && WEXITSTATUS(result.status) == kChildSkipped;
}

// Whether zuvo_localtime's next conversion of kWhen is in zone; says what it
// got on standard error when not.
bool LocaltimeShows(const Zone& zone) {
  struct tm broken;
  memset(&broken, 0, sizeof broken);
  if (zuvo_localtime(&kWhen, &broken) != &broken) {
    fprintf(stderr, "zuvo_localtime failed, expected %s\n", zone.name);
    return false;
  }
  const bool same = broken.tm_gmtoff == zone.gmtoff && broken.tm_hour == zone.hour &&
                    broken.tm_zone != nullptr && strcmp(broken.tm_zone, zone.name) == 0;
  if (!same) {
    fprintf(stderr, "zuvo_localtime: %s, offset %ld, hour %d; expected %s, %ld, %d\n",
            broken.tm_zone != nullptr ? broken.tm_zone : "(no zone)", broken.tm_gmtoff,
            broken.tm_hour, zone.name, zone.gmtoff, zone.hour);
  }
  return same;
}

// The same for zuvo_ctime's text.
bool CtimeShows(const Zone& zone) {
  char text[64];
  if (zuvo_ctime(&kWhen, text, sizeof text) != text) {
    fprintf(stderr, "zuvo_ctime failed, expected %s", zone.ctimeText);
    return false;
  }
  const bool same = strcmp(text, zone.ctimeText) == 0;
  if (!same) fprintf(stderr, "zuvo_ctime: %sexpected: %s", text, zone.ctimeText);
  return same;
}

// Which routine makes the first call after the zone changed: each must look
// at the zone itself, not rely on the other having done so.
enum class FirstCall { kLocaltime, kCtime };

// Whether both routines show zone, the one named first called first.
bool RoutinesShow(const Zone& zone, FirstCall first) {
  if (first == FirstCall::kLocaltime) return LocaltimeShows(zone) && CtimeShows(zone);
  return CtimeShows(zone) && LocaltimeShows(zone);
}

// Sleeps a little longer than the one second within which the routines see a
// zone changed behind their back, so that the wall-clock second of the next
// call differs from that of every earlier one. The test waits for that
// bound; it does not measure anything.
void WaitPastTheZoneCheckInterval() {
  struct timespec until;
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += 1;
  until.tv_nsec += 200 * 1000 * 1000;
  if (until.tv_nsec >= 1000 * 1000 * 1000) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000 * 1000 * 1000;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// Runs body in a child, and passes, skips or fails as the child did.
#define RUN_ZONE_CASE(...)                                                          \
  do {                                                                              \
    const ChildResult result = RunInChild(__VA_ARGS__);                             \
    if (Skipped(result)) GTEST_SKIP() << result.out;                                \
    ASSERT_TRUE(result.ExitedCleanly()) << result.Describe() << "\n" << result.out; \
  } while (false)

// ---- Zones set by the host.

void SetZone(const Zone& zone) {
  CHILD_CHECK(setenv("TZ", zone.posix, 1) == 0);
  tzset();
}

// Many switches within the same second: nothing the routines keep between
// calls may stand in for the zone the host has just set.
TEST(Zone, SetWithTzsetIsUsedByTheVeryNextCall) {
  RUN_ZONE_CASE([] {
    SetZone(kUtc);
    CHILD_CHECK(LocaltimeShows(kUtc));
    SetZone(kEst);
    CHILD_CHECK(LocaltimeShows(kEst));
    SetZone(kUtc);
    CHILD_CHECK(CtimeShows(kUtc));
    SetZone(kEst);
    CHILD_CHECK(CtimeShows(kEst));
    const Zone* const zones[] = {&kUtc, &kEst, &kJst};
    for (int round = 0; round < 300; ++round) {
      const Zone& zone = *zones[round % 3];
      SetZone(zone);
      CHILD_CHECK(RoutinesShow(zone, round % 2 == 0 ? FirstCall::kLocaltime : FirstCall::kCtime));
    }
  });
}

// The C library sets its zone up on a conversion's first use, and again in
// every tzset(), freeing and copying its zone text each time with TZ unset.
// The routines set the zone without the mutex, so nothing but the C
// library's own lock orders that with a first conversion made by another
// thread; the two threads here share no other order (the flag is relaxed),
// and a race-detecting build must see them ordered all the same.
TEST(Zone, SetWhileAnotherThreadMakesTheFirstConversion) {
  RUN_ZONE_CASE([] {
    CHILD_CHECK(unsetenv("TZ") == 0);
    std::atomic<bool> converted{false};
    std::thread converter([&converted] {
      struct tm utc;
      CHILD_CHECK(zuvo_gmtime(&kWhen, &utc) != nullptr);
      converted.store(true, std::memory_order_relaxed);
    });
    while (!converted.load(std::memory_order_relaxed)) sched_yield();
    struct tm local;
    CHILD_CHECK(zuvo_localtime(&kWhen, &local) != nullptr);
    converter.join();
  });
}

// ---- Zones changed behind the routines' back.

// Whether the routines, the one named first called first, give what the C
// library's own localtime() and ctime() give for kWhen: the oracle for any
// zone, TZ unset or empty included. The oracle is asked second, because it
// sets the C library's zone again itself.
bool RoutinesAgreeWithTheCLibrary(FirstCall first, const char* setting) {
  struct tm mine;
  char text[64];
  memset(&mine, 0, sizeof mine);
  bool converted;
  if (first == FirstCall::kLocaltime) {
    converted = zuvo_localtime(&kWhen, &mine) == &mine;
    converted = zuvo_ctime(&kWhen, text, sizeof text) == text && converted;
  } else {
    converted = zuvo_ctime(&kWhen, text, sizeof text) == text;
    converted = zuvo_localtime(&kWhen, &mine) == &mine && converted;
  }
  const struct tm theirs = *localtime(&kWhen);
  const std::string theirText = ctime(&kWhen);
  const bool same = converted && mine.tm_hour == theirs.tm_hour && mine.tm_mday == theirs.tm_mday &&
                    mine.tm_isdst == theirs.tm_isdst && mine.tm_gmtoff == theirs.tm_gmtoff &&
                    mine.tm_zone != nullptr && strcmp(mine.tm_zone, theirs.tm_zone) == 0 &&
                    theirText == text;
  if (!same)
    fprintf(stderr,
            "after %s: zuvo_localtime %02d:%02d %s, zuvo_ctime %s; localtime %02d:%02d %s\n",
            setting, mine.tm_hour, mine.tm_min, mine.tm_zone != nullptr ? mine.tm_zone : "(none)",
            text, theirs.tm_hour, theirs.tm_min, theirs.tm_zone);
  return same;
}

// Zones set through the environment alone, one after another within the
// same second: POSIX rules with and without summer time, offsets in half
// and quarter hours, zone files by name, and TZ empty and unset. Each is
// used by the very next call, as the C library's localtime() and ctime()
// use it.
const char* const kSettings[] = {"UTC0",
                                 "EST5",
                                 "JST-9",
                                 "CET-1CEST,M3.5.0,M10.5.0/3",
                                 "NZST-12NZDT,M9.5.0,M4.1.0/3",
                                 "IST-5:30",
                                 "<+0545>-5:45",
                                 "PST8PDT,M3.2.0,M11.1.0",
                                 ":America/New_York",
                                 "Asia/Tokyo",
                                 "",
                                 nullptr};

void ExpectEveryEnvironmentChangeSeen(FirstCall first) {
  // Other variables come and go between the settings, so that TZ moves
  // within the environment and the environment grows, shrinks and moves.
  char name[16];
  for (int round = 0; round < 4; ++round) {
    int other = 0;
    for (const char* setting : kSettings) {
      snprintf(name, sizeof name, "ZONE_TEST_%d", other++ % 5);
      if (round % 2 == 0)
        CHILD_CHECK(setenv(name, "x", 1) == 0);
      else
        CHILD_CHECK(unsetenv(name) == 0);
      if (setting == nullptr)
        CHILD_CHECK(unsetenv("TZ") == 0);
      else
        CHILD_CHECK(setenv("TZ", setting, 1) == 0);
      CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, setting != nullptr ? setting : "(unset)"));
      CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "the same, again"));
    }
  }
  // putenv() puts the caller's own text in the environment: a change made
  // in that text, in place, changes TZ too.
  static char entry[32] = "TZ=EST5";
  CHILD_CHECK(putenv(entry) == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  strcpy(entry, "TZ=JST-9");
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  strcpy(entry, "TZ=JST-8");
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  // Longer than a few words: a change in its first word, then in a word
  // that is neither the first nor the last.
  // kWhen falls in New Zealand's summer time, where both changes show.
  strcpy(entry, "TZ=NZST-12NZDT,M9.5.0,M4.1.0/3");
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  entry[7] = '+';  // NZST+12
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  entry[12] = 'X';  // NZXT
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, entry));
  CHILD_CHECK(unsetenv("TZ") == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "(unset)"));
  // A zone file named by a TZ longer than any the routines keep, and an
  // environment emptied and cleared away.
  std::string longZone = ":" + std::string(kZoneDir);
  while (longZone.size() < 200) longZone += "/.";
  longZone += "/Asia/Tokyo";
  CHILD_CHECK(setenv("TZ", longZone.c_str(), 1) == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "a long TZ"));
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "a long TZ, again"));
  CHILD_CHECK(setenv("TZ", "EST5", 1) == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "EST5"));
  CHILD_CHECK(clearenv() == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "clearenv()"));
  CHILD_CHECK(setenv("TZ", "JST-9", 1) == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "JST-9 alone"));
  CHILD_CHECK(unsetenv("TZ") == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "an empty environment"));
  CHILD_CHECK(setenv("TZ", "EST5", 1) == 0);
  CHILD_CHECK(RoutinesAgreeWithTheCLibrary(first, "EST5 alone"));
}

TEST(Zone, ChangedInTheEnvironmentAloneIsUsedByLocaltimeAtTheVeryNextCall) {
  RUN_ZONE_CASE([] { ExpectEveryEnvironmentChangeSeen(FirstCall::kLocaltime); });
}

TEST(Zone, ChangedInTheEnvironmentAloneIsUsedByCtimeAtTheVeryNextCall) {
  RUN_ZONE_CASE([] { ExpectEveryEnvironmentChangeSeen(FirstCall::kCtime); });
}

// A thread that holds the mutex sets the zone without the fork guard's
// lock, and one that does not waits for it when TZ has changed: both see
// the change at once, with another thread converting and forking beside
// them.
TEST(Zone, ChangedWhileOtherThreadsConvertAndForkIsUsedAtTheVeryNextCall) {
  RUN_ZONE_CASE([] {
    std::atomic<bool> stop{false};
    std::thread beside([&stop] {
      const time_t when = kWhen;
      struct tm broken;
      while (!stop.load(std::memory_order_relaxed)) {
        CHILD_CHECK(zuvo_gmtime(&when, &broken) != nullptr);
        const pid_t child = fork();
        CHILD_CHECK(child >= 0);
        if (child == 0) _exit(zuvo_localtime(&when, &broken) != nullptr ? 0 : 1);
        int status = 0;
        CHILD_CHECK(waitpid(child, &status, 0) == child);
        CHILD_CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      }
    });
    for (int round = 0; round < 40; ++round) {
      const Zone& zone = round % 2 == 0 ? kEst : kJst;
      CHILD_CHECK(setenv("TZ", zone.posix, 1) == 0);
      if (round % 4 < 2) {
        CHILD_CHECK(RoutinesShow(zone, FirstCall::kLocaltime));
      } else {
        OSMutexLocker held(OS::GetStdLibMutex());
        CHILD_CHECK(RoutinesShow(zone, FirstCall::kCtime));
      }
    }
    stop.store(true, std::memory_order_relaxed);
    beside.join();
  });
}

void WriteProcFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) SkipChild(std::string("cannot open ") + path + ": " + strerror(errno));
  const ssize_t written = write(fd, text.data(), text.size());
  const int error = errno;
  close(fd);
  if (written != static_cast<ssize_t>(text.size()))
    SkipChild(std::string("cannot write ") + path + ": " + strerror(error));
}

// Gives the child a mount namespace of its own, with every mount private,
// so that nothing it mounts reaches the host. As root a new mount namespace
// is enough; otherwise a new user namespace, in which the child is root,
// comes with it. The child is single-threaded, as a new user namespace
// requires: RunInChild forks from one thread. Skips the child when the
// system allows neither.
void EnterPrivateMountNamespace() {
  if (unshare(CLONE_NEWNS) != 0) {
    const int rootError = errno;
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
      SkipChild(std::string("no private mount namespace: unshare(CLONE_NEWNS): ") +
                strerror(rootError) + "; with CLONE_NEWUSER: " + strerror(errno));
    }
    WriteProcFile("/proc/self/setgroups", "deny");
    WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
  }
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    SkipChild(std::string("cannot make the mounts private: ") + strerror(errno));
}

// A zone file held open from before the first bind: /etc/localtime may be
// a link to one of the zones' own files, and a path through it would then
// name whatever was last mounted there.
struct HeldZoneFile {
  const Zone* zone;
  int fd;
};

HeldZoneFile Hold(const Zone& zone) {
  const std::string file = std::string(kZoneDir) + "/" + zone.file;
  const int fd = open(file.c_str(), O_PATH | O_CLOEXEC);
  if (fd < 0) SkipChild("no zone file " + file + " (tzdata not installed?): " + strerror(errno));
  return {&zone, fd};
}

// Puts the held file where /etc/localtime is (over the file its link
// names, when it is a link), seen by this child's mount namespace only.
void InstallLocaltime(const HeldZoneFile& held) {
  const std::string source = "/proc/self/fd/" + std::to_string(held.fd);
  if (mount(source.c_str(), kLocaltime, nullptr, MS_BIND, nullptr) != 0) {
    SkipChild(std::string("cannot bind ") + held.zone->file + " over " + kLocaltime + ": " +
              strerror(errno));
  }
}

// With TZ unset glibc's reentrant conversions keep the zone file they read
// first: the routines must notice a replaced one themselves.
void ExpectReplacedFileSeen(FirstCall first) {
  struct stat st;
  if (stat(kLocaltime, &st) != 0)
    SkipChild(std::string("no ") + kLocaltime + " to mount over: " + strerror(errno));
  EnterPrivateMountNamespace();
  // Opened in the new namespace: a bind's source must be one of its mounts.
  const HeldZoneFile zones[] = {Hold(kUtc), Hold(kEst), Hold(kJst)};
  CHILD_CHECK(unsetenv("TZ") == 0);
  InstallLocaltime(zones[0]);
  tzset();
  CHILD_CHECK(RoutinesShow(*zones[0].zone, first));
  for (const HeldZoneFile& next : {zones[1], zones[2]}) {
    InstallLocaltime(next);
    WaitPastTheZoneCheckInterval();
    CHILD_CHECK(RoutinesShow(*next.zone, first));
  }
}

TEST(Zone, ReplacedLocaltimeFileIsSeenByLocaltimeWithinASecond) {
  RUN_ZONE_CASE([] { ExpectReplacedFileSeen(FirstCall::kLocaltime); });
}

TEST(Zone, ReplacedLocaltimeFileIsSeenByCtimeWithinASecond) {
  RUN_ZONE_CASE([] { ExpectReplacedFileSeen(FirstCall::kCtime); });
}

// ---- System calls made by the routines.
//
// A traced child runs a loop between two marker system calls; the parent
// steps it from system call to system call and counts the entries between
// the markers. Only the child's one thread is traced.

// The marker: a system call that neither the routines nor the C library's
// conversions make.
constexpr long kMarker = SYS_getppid;

// The number of the system call a tracee stopped at the entry of, as its
// general registers hold it; kKnownRegisters is false where their layout is
// not written here.
#if defined(__x86_64__)
using Registers = struct user_regs_struct;
long NumberIn(const Registers& r) { return static_cast<long>(r.orig_rax); }
constexpr bool kKnownRegisters = true;
#elif defined(__i386__)
using Registers = struct user_regs_struct;
long NumberIn(const Registers& r) { return r.orig_eax; }
constexpr bool kKnownRegisters = true;
#elif defined(__aarch64__)
using Registers = struct user_regs_struct;
long NumberIn(const Registers& r) { return static_cast<long>(r.regs[8]); }
constexpr bool kKnownRegisters = true;
#elif defined(__arm__)
using Registers = struct user_regs;
long NumberIn(const Registers& r) { return static_cast<long>(r.uregs[7]); }
constexpr bool kKnownRegisters = true;
#else
struct Registers {};
long NumberIn(const Registers&) { return -1; }
constexpr bool kKnownRegisters = false;
#endif

bool ReadSyscallNumber(pid_t pid, long* number) {
  Registers regs;
  struct iovec io = {&regs, sizeof regs};
  if (ptrace(PTRACE_GETREGSET, pid, reinterpret_cast<void*>(NT_PRSTATUS), &io) != 0) return false;
  *number = NumberIn(regs);
  return true;
}

// valgrind runs the program on its own core, which makes system calls of
// its own in the thread; the library it preloads names it.
bool UnderValgrind() {
  const char* preload = getenv("LD_PRELOAD");
  return preload != nullptr && strstr(preload, "vgpreload") != nullptr;
}

// A child that may not be traced ends with this code plus ptrace's errno.
constexpr int kCannotTrace = 100;

struct SyscallCount {
  std::string skip;  // why nothing was counted, when the system forbids it
  std::string failure;
  long calls = 0;  // system call entries strictly between the markers
  // The wall-clock seconds when the child stopped at the first and at the
  // second marker: every second the child saw in the loop lies between.
  time_t firstSecond = 0;
  time_t lastSecond = 0;
};

// Forks a traced child that runs setup, then body once (so that anything
// done once per process is done), then body again between the markers, and
// counts the system calls of the second run.
SyscallCount CountSyscalls(const std::function<void()>& setup, const std::function<void()>& body) {
  SyscallCount count;
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    count.failure = std::string("fork: ") + strerror(errno);
    return count;
  }
  if (pid == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      _exit(kCannotTrace + (errno < 100 ? errno : 0));
    }
    alarm(120);
    raise(SIGSTOP);
    setup();
    body();
    syscall(kMarker);
    body();
    syscall(kMarker);
    _exit(0);
  }
  int status = 0;
  auto wait = [&] {
    while (waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return false;
    }
    return true;
  };
  if (!wait()) {
    count.failure = std::string("waitpid: ") + strerror(errno);
    return count;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) >= kCannotTrace) {
    count.skip = std::string("the child may not be traced: ptrace(PTRACE_TRACEME): ") +
                 strerror(WEXITSTATUS(status) - kCannotTrace);
    return count;
  }
  if (!WIFSTOPPED(status) || WSTOPSIG(status) != SIGSTOP) {
    count.failure = "the child did not stop for its tracer";
    kill(pid, SIGKILL);
    wait();
    return count;
  }
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL));
  // Stops at a system call alternate between its entry and its exit; the
  // child resumes from the signal stop outside any.
  bool atEntry = true;
  int markers = 0;
  int deliver = 0;
  for (;;) {
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, reinterpret_cast<void*>(deliver)) != 0) {
      count.failure = std::string("PTRACE_SYSCALL: ") + strerror(errno);
      kill(pid, SIGKILL);
      wait();
      return count;
    }
    deliver = 0;
    if (!wait()) {
      count.failure = std::string("waitpid: ") + strerror(errno);
      return count;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) break;
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      deliver = WSTOPSIG(status);
      continue;
    }
    if (atEntry) {
      long number = -1;
      if (!ReadSyscallNumber(pid, &number)) {
        count.failure = std::string("PTRACE_GETREGSET: ") + strerror(errno);
        kill(pid, SIGKILL);
        wait();
        return count;
      }
      if (number == kMarker) {
        ++markers;
        (markers == 1 ? count.firstSecond : count.lastSecond) = time(nullptr);
      } else if (markers == 1) {
        ++count.calls;
      }
    }
    atEntry = !atEntry;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    count.failure = ChildResult{status, ""}.Describe();
  } else if (markers != 2) {
    count.failure = "saw " + std::to_string(markers) + " markers, not 2";
  }
  return count;
}

std::string TracingForbidden() {
  if (UnderEmulator()) return "qemu's user-mode emulator does not trace system calls";
  if (UnderValgrind()) return "valgrind makes system calls of its own in the traced thread";
  if (!kKnownRegisters) return "no register layout known here for a system call's number";
  return "";
}

#define SKIP_UNLESS_TRACEABLE()                 \
  do {                                          \
    const std::string why = TracingForbidden(); \
    if (!why.empty()) GTEST_SKIP() << why;      \
  } while (false)

// The counter itself: a loop of a known number of system calls counts
// exactly that many.
TEST(ZoneSyscalls, CounterSeesEveryCallOfAKnownLoop) {
  SKIP_UNLESS_TRACEABLE();
  constexpr int kCalls = 100;
  const SyscallCount count = CountSyscalls([] {},
                                           [] {
                                             for (int i = 0; i < kCalls; ++i) syscall(SYS_getuid);
                                           });
  if (!count.skip.empty()) GTEST_SKIP() << count.skip;
  ASSERT_EQ(count.failure, "");
  EXPECT_EQ(count.calls, kCalls);
}

// The loop of routine calls: every routine that needs no stream, over
// changing times, each result checked.
constexpr int kIterations = 2000;

void CallTheRoutines() {
  char text[64];
  struct tm broken;
  for (int i = 0; i < kIterations; ++i) {
    const time_t when = kWhen + static_cast<time_t>(i) * 3607;
    CHILD_CHECK(zuvo_localtime(&when, &broken) == &broken);
    CHILD_CHECK(zuvo_ctime(&when, text, sizeof text) == text);
    CHILD_CHECK(zuvo_strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &broken) == 25);
    CHILD_CHECK(zuvo_snprintf(text, sizeof text, "%d %s", i, "calls") > 0);
    CHILD_CHECK(zuvo_strerror(i % 2 == 0 ? ENOENT : EINVAL, text, sizeof text) == text);
    CHILD_CHECK(zuvo_gmtime(&when, &broken) == &broken);
    CHILD_CHECK(zuvo_asctime(&broken, text, sizeof text) == text);
  }
}

// A look at the zone (tzset()) with the zone file unchanged costs one
// system call with TZ unset (the file's stat) and none with a POSIX TZ; a
// single thread looks at most once per wall-clock second it sees. So the
// loop may make one system call for each second between the markers, both
// ends included; a routine that made one of its own per call would make at
// least kIterations.
constexpr long kSyscallsPerZoneCheck = 1;

void ExpectNoSyscallsPerCall(const std::function<void()>& setZone) {
  SKIP_UNLESS_TRACEABLE();
  const SyscallCount count = CountSyscalls(setZone, CallTheRoutines);
  if (!count.skip.empty()) GTEST_SKIP() << count.skip;
  ASSERT_EQ(count.failure, "");
  const long secondsSeen = static_cast<long>(count.lastSecond - count.firstSecond) + 1;
  printf("%ld system calls in %d rounds of calls over %ld wall-clock second(s)\n", count.calls,
         kIterations, secondsSeen);
  EXPECT_LE(count.calls, secondsSeen * kSyscallsPerZoneCheck);
}

TEST(ZoneSyscalls, NoneOfTheirOwnPerCallWithTzUnset) {
  ExpectNoSyscallsPerCall([] { CHILD_CHECK(unsetenv("TZ") == 0); });
}

TEST(ZoneSyscalls, NoneOfTheirOwnPerCallWithAPosixTz) {
  ExpectNoSyscallsPerCall([] { CHILD_CHECK(setenv("TZ", kUtc.posix, 1) == 0); });
}

// An environment emptied away leaves nothing to find TZ by: the routines
// look the long way, and still set the zone no more than once a second.
TEST(ZoneSyscalls, NoneOfTheirOwnPerCallWithNoEnvironment) {
  ExpectNoSyscallsPerCall([] { CHILD_CHECK(clearenv() == 0); });
}

}  // namespace
