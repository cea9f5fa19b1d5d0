// FormatCheck.h: glibc's format checks for the printers' format-checked
// entries (zuvo_printf_fchk, ...): what glibc's fortified printers refuse
// from _FORTIFY_SOURCE=2 on, decided before the entry takes any lock, so
// that a check that fails holds nothing and has printed nothing.
//
// glibc (stdio-common/vfprintf-internal.c) refuses, while it prints, a %n
// conversion in a format that lies in writable memory ("*** %n in
// writable segment detected ***"), and a format that numbers its arguments
// (%N$) but leaves one of them, up to the highest it names, unnamed
// ("*** invalid %N$ use detected ***"), whose type it cannot know. Both
// checks here read the format as glibc's own parser does
// (stdio-common/printf-parsemb.c, glibc 2.37's grammar: the %b, %B and %wN
// forms included); a format with neither costs one pass over its text.
#ifndef SafeStdLib_FormatCheck_H
#define SafeStdLib_FormatCheck_H

#include <string.h>

namespace SafeStdLibPrivate {

// What a format asks for that glibc checks.
enum : unsigned {
  kFormatWritesCount = 1u,       // a %n conversion
  kFormatWritesCountFirst = 2u,  // one before any numbered argument
  kFormatNumbersArguments = 4u,  // a %N$, *N$ or .*N$
};

// The number at f, whose first character is a digit, as glibc's read_int
// reads it: -1 past INT_MAX. Leaves f after its last digit.
inline long ReadFormatNumber(const char*& f) {
  long n = 0;
  for (; *f >= '0' && *f <= '9'; ++f)
    if (n >= 0) n = n > (0x7fffffffL - (*f - '0')) / 10 ? -1 : n * 10 + (*f - '0');
  return n;
}

inline bool IsFormatDigit(char c) { return c >= '0' && c <= '9'; }

// "N$" at f (N not 0): skips it and returns N (-1 past INT_MAX); else 0,
// leaving f where it was.
inline long ReadArgumentNumber(const char*& f) {
  if (!IsFormatDigit(*f)) return 0;
  const char* end = f;
  const long n = ReadFormatNumber(end);
  if (n == 0 || *end != '$') return 0;
  f = end + 1;
  return n;
}

// Skips the flags, glibc's ' ', '+', '-', '#', '0', '\'' and 'I'.
inline const char* SkipFormatFlags(const char* f) {
  for (;; ++f) {
    switch (*f) {
      case ' ':
      case '+':
      case '-':
      case '#':
      case '0':
      case '\'':
      case 'I':
        continue;
      default:
        return f;
    }
  }
}

// Skips a length modifier: hh h ll l L q z Z t j, wN and wfN.
inline const char* SkipFormatLength(const char* f) {
  switch (*f) {
    case 'h':
    case 'l':
      return f[1] == f[0] ? f + 2 : f + 1;
    case 'L':
    case 'q':
    case 'z':
    case 'Z':
    case 't':
    case 'j':
      return f + 1;
    case 'w': {
      const char* w = f + 1;
      if (*w == 'f') ++w;
      if (!IsFormatDigit(*w)) return f;
      (void)ReadFormatNumber(w);
      return w;
    }
    default:
      return f;
  }
}

// Whether a conversion takes an argument (glibc's ndata_args: 1, or 0 for
// %m, %% and any character it does not know).
inline bool TakesArgument(char conversion) {
  return conversion != '\0' && strchr("diouxXbBeEfFgGaAcCsSpn", conversion) != nullptr;
}

// Skips a width or a precision after its '.': a number, or * with its own
// N$. false for a number past INT_MAX, which glibc gives up on (EOVERFLOW)
// before it reads further, unless it has turned to numbered arguments.
inline bool SkipFormatField(const char*& f, unsigned& asks) {
  if (*f == '*') {
    ++f;
    if (ReadArgumentNumber(f) != 0) asks |= kFormatNumbersArguments;
    return true;
  }
  return !IsFormatDigit(*f) || ReadFormatNumber(f) >= 0 || (asks & kFormatNumbersArguments) != 0;
}

// A conversion that follows its '%' at once, with neither flag, width,
// precision nor length, and is not %n: "%s", "%d", "%%" and their kind,
// most of those that formats hold.
inline bool IsBareConversion(char c) {
  switch (c) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'c':
    case 's':
    case 'p':
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
    case 'b':
    case 'B':
    case 'C':
    case 'S':
    case 'm':
    case '%':
      return true;
    default:
      return false;
  }
}

// One pass over fmt, a character at a time, with no call: what of glibc's
// checks it asks for.
__attribute__((always_inline)) inline unsigned ScanFormat(const char* f) {
  unsigned asks = 0;
  for (;;) {
    // The text up to the next '%' or the end: most of a format.
    char c = *f++;
    while (c != '%') {
      if (c == '\0') return asks;
      c = *f++;
    }
    if (IsBareConversion(*f)) {
      ++f;
      continue;
    }
    if (ReadArgumentNumber(f) != 0) asks |= kFormatNumbersArguments;
    f = SkipFormatFlags(f);
    if (!SkipFormatField(f, asks)) return asks;
    if (*f == '.' && !SkipFormatField(++f, asks)) return asks;
    f = SkipFormatLength(f);
    if (*f == 'n')
      asks |= (asks & kFormatNumbersArguments) == 0 ? kFormatWritesCount | kFormatWritesCountFirst
                                                    : kFormatWritesCount;
    if (*f == '\0') return asks;
    ++f;
  }
}

// For a format that asks for a check (ScanFormat()): makes glibc's checks,
// in glibc's order, and ends the process as glibc does if one fails.
// Returns whether glibc may check the format again as it prints: false for
// a format with %n, whose check reads /proc/self/maps.
bool CheckFormatAsks(const char* fmt, unsigned asks);

// A format-checked entry's checks, given glibc's flag: returns whether the
// print may pass glibc the flag too (checks on, and no %n in the format).
__attribute__((always_inline)) inline bool CheckFormat(int flag, const char* fmt) {
  if (flag <= 0 || fmt == nullptr) return false;
  const unsigned asks = ScanFormat(fmt);
  return __builtin_expect(asks == 0, 1) || CheckFormatAsks(fmt, asks);
}

}  // namespace SafeStdLibPrivate

#endif  // SafeStdLib_FormatCheck_H
