// FormatCheck.cpp: the slow part of glibc's format checks (FormatCheck.h),
// for the formats that have a %n or a numbered argument: each runs before
// the entry takes any lock, so the system calls of the %n check are never
// made under the mutex.

#include "SafeStdLib/internal/FormatCheck.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include "OSUtilities/internal/OSPlatform.h"

namespace {

// ---- %N$: glibc's printf_positional (stdio-common/vfprintf-internal.c)
// gives every argument up to the highest one named, or reached in turn,
// the type of a conversion that takes it, and refuses the format if one is
// left without.

// glibc allocates what a format needs; beyond this many arguments the check
// is left to glibc's own as it prints.
constexpr size_t kTrackedArguments = 4096;

class ArgumentsNamed {
 public:
  void Name(long index) {
    if (index >= 0 && static_cast<size_t>(index) < kTrackedArguments)
      fNamed[static_cast<size_t>(index) / 8] |= static_cast<unsigned char>(1u << (index % 8));
  }
  // Whether every argument below count is named. Past what is tracked:
  // false where the format's conversions, `conversions` of them, cannot
  // name them all (each names at most three), else true, leaving the check
  // to glibc.
  bool AllBelow(size_t count, size_t conversions) const {
    if (count > kTrackedArguments) return count <= 3 * conversions;
    for (size_t i = 0; i < count; ++i)
      if ((fNamed[i / 8] & (1u << (i % 8))) == 0) return false;
    return true;
  }

 private:
  unsigned char fNamed[kTrackedArguments / 8] = {};
};

// A width or precision given by an argument (the '*' read): its own N$, or
// the next argument in turn. glibc's __parse_one_specmb.
void NameFieldArgument(const char*& f, size_t& inTurn, size_t& highest, ArgumentsNamed& named) {
  const char* after = f;
  const long n = SafeStdLibPrivate::ReadArgumentNumber(after);
  if (n > 0) {
    named.Name(n - 1);
    if (static_cast<size_t>(n) > highest) highest = static_cast<size_t>(n);
    f = after;
  } else {
    // A number past INT_MAX is read again as the conversion, as glibc does.
    named.Name(static_cast<long>(inTurn++));
  }
}

// The width, or the precision after its '.': an argument's, or a number.
void NameField(const char*& f, size_t& inTurn, size_t& highest, ArgumentsNamed& named) {
  if (*f == '*')
    NameFieldArgument(++f, inTurn, highest, named);
  else if (SafeStdLibPrivate::IsFormatDigit(*f))
    (void)SafeStdLibPrivate::ReadFormatNumber(f);
}

bool NamesEveryArgument(const char* f) {
  ArgumentsNamed named;
  size_t inTurn = 0, highest = 0, conversions = 0;
  while ((f = strchr(f, '%')) != nullptr) {
    ++f;
    ++conversions;
    long data = -1;
    const long n = SafeStdLibPrivate::ReadArgumentNumber(f);
    if (n > 0) {
      data = n - 1;
      if (static_cast<size_t>(n) > highest) highest = static_cast<size_t>(n);
    }
    f = SafeStdLibPrivate::SkipFormatFlags(f);
    NameField(f, inTurn, highest, named);
    if (*f == '.') NameField(++f, inTurn, highest, named);
    f = SafeStdLibPrivate::SkipFormatLength(f);
    if (SafeStdLibPrivate::TakesArgument(*f))
      named.Name(data >= 0 ? data : static_cast<long>(inTurn++));
    if (*f == '\0') break;
    ++f;
  }
  return named.AllBelow(inTurn > highest ? inTurn : highest, conversions);
}

// ---- %n: glibc's __readonly_area (sysdeps/unix/sysv/linux/readonly-area.c)
// reads /proc/self/maps: the format must lie wholly in mappings that are
// readable and not writable. Where /proc cannot be read, glibc does not
// refuse the format, nor does this.

// One line's head, "from-to perms ...": whether it parsed.
bool ParseMapping(const char* line, uintptr_t& from, uintptr_t& to, bool& readOnly) {
  char* end;
  from = static_cast<uintptr_t>(strtoull(line, &end, 16));
  if (end == line || *end != '-') return false;
  line = end + 1;
  to = static_cast<uintptr_t>(strtoull(line, &end, 16));
  if (end == line || *end != ' ') return false;
  readOnly = end[1] == 'r' && end[2] == '-';
  return true;
}

// Counts the bytes of [begin, end) that one line's mapping covers; false
// once the answer is known: the range is covered, or meets a mapping that
// is not read-only, or the line does not parse.
bool Cover(const char* line, uintptr_t begin, uintptr_t end, size_t& left, bool& readOnly) {
  uintptr_t from, to;
  bool mappingReadOnly;
  if (!ParseMapping(line, from, to, mappingReadOnly)) return readOnly = false;
  if (from >= end || to <= begin) return true;
  if (!mappingReadOnly) return readOnly = false;
  const uintptr_t coveredFrom = from > begin ? from : begin;
  const uintptr_t coveredTo = to < end ? to : end;
  left -= coveredTo - coveredFrom;
  return left != 0;
}

bool LiesInReadOnlyMemory(const char* text, size_t size) {
  const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(text), end = begin + size;
  size_t left = size;
  bool readOnly = true, more = true;
  // Each line's head, which holds all that is read of it; the rest, a
  // path, is skipped.
  char head[96];
  size_t headLength = 0;
  char chunk[4096];
  while (more) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (const char *p = chunk, *stop = chunk + got; more && p < stop;) {
      const char* newline =
          static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(stop - p)));
      const char* lineEnd = newline != nullptr ? newline : stop;
      const size_t take = static_cast<size_t>(lineEnd - p) < sizeof head - 1 - headLength
                              ? static_cast<size_t>(lineEnd - p)
                              : sizeof head - 1 - headLength;
      memcpy(head + headLength, p, take);
      headLength += take;
      p = lineEnd;
      if (newline == nullptr) break;
      ++p;
      head[headLength] = '\0';
      headLength = 0;
      more = Cover(head, begin, end, left, readOnly);
    }
  }
  (void)close(fd);
  return readOnly && left == 0;
}

// ---- The failures, as glibc's own.

#if OS_GLIBC
// glibc's flag-taking printer, which makes the same checks.
extern "C" int __snprintf_chk(char* str, size_t size, int flag, size_t objsize, const char* fmt,
                              ...);
#endif

// Ends the process with glibc's own failure for the check, by having glibc
// refuse a format that fails it the same way (on standard error or the
// terminal, as glibc chooses, then SIGABRT); elsewhere, or should glibc not
// refuse it, the same words on standard error and abort().
[[noreturn]] __attribute__((noinline, cold)) void FormatCheckFailed(const char* message,
                                                                    size_t length, char* refused) {
#if OS_GLIBC
  char out[1];
  int count;
  (void)__snprintf_chk(out, sizeof out, 1, sizeof out, refused, &count);
#else
  (void)refused;
#endif
  if (write(STDERR_FILENO, message, length) < 0) {
    // Nothing more to say: the process ends either way.
  }
  abort();
}

[[noreturn]] void WritableCountFailed() {
  static const char kText[] = "*** %n in writable segment detected ***\n";
  char refused[] = "%n";  // on the stack: writable
  FormatCheckFailed(kText, sizeof kText - 1, refused);
}

[[noreturn]] void UnnamedArgumentFailed() {
  static const char kText[] = "*** invalid %N$ use detected ***\n";
  char refused[] = "%2$d";  // the first argument unnamed
  FormatCheckFailed(kText, sizeof kText - 1, refused);
}

bool CountsOnlyInReadOnlyMemory(const char* fmt) {
  return LiesInReadOnlyMemory(fmt, strlen(fmt) + 1);
}

}  // namespace

namespace SafeStdLibPrivate {

bool CheckFormatAsks(const char* fmt, unsigned asks) {
  // glibc prints in turn up to the first numbered argument, meeting a %n
  // there first, and then reads the whole format for the arguments' types
  // before it prints the rest.
  if ((asks & kFormatWritesCountFirst) != 0 && !CountsOnlyInReadOnlyMemory(fmt))
    WritableCountFailed();
  if ((asks & kFormatNumbersArguments) != 0 && !NamesEveryArgument(fmt)) UnnamedArgumentFailed();
  if ((asks & (kFormatWritesCount | kFormatWritesCountFirst)) == kFormatWritesCount &&
      !CountsOnlyInReadOnlyMemory(fmt))
    WritableCountFailed();
  return (asks & kFormatWritesCount) == 0;
}

}  // namespace SafeStdLibPrivate
