// MaxPrintfRecord.h: the capped console printer's state, one per process.
//
// Private to the library; never installed. The record is exported with
// STB_GNU_UNIQUE binding (see OSProcessUnique.h), so that every copy of the
// library in the process counts into one total against one limit.
// Touched only while the standard-library mutex is held.
//
// Shared between releases: the first three fields are every release's,
// later ones are appended, and a copy uses the record only if the
// definition it is bound to holds them (OSMayShare()).
#ifndef MaxPrintfRecord_H
#define MaxPrintfRecord_H

#include <stddef.h>

#include "OSUtilities/OSHeaders.h"

struct MaxPrintfRecord {
  UInt64 fTotalChars;        // characters printed since the process started
  UInt32 fMaxTotalCharsInK;  // the output limit, in K of 1024 characters
  int fMaxFileSizeReached;   // 1 from the notice until the next allowed print
  UInt32 fLayout;            // 2; the earlier releases' record ends before it
  UInt32 fSize;              // sizeof the definition's MaxPrintfRecord
};

constexpr UInt32 kMaxPrintfLayout = 2;
// What a definition must hold for this copy to share it.
constexpr size_t kMaxPrintfSharedSize = offsetof(MaxPrintfRecord, fLayout);

// The output limit when the process starts, in K: 100000 K.
constexpr UInt32 kMaxPrintfLimitAtStartK = 100000;

// A record as the process starts: nothing printed, the limit at its start.
inline constexpr MaxPrintfRecord kMaxPrintfRecordAtStart = {
    .fTotalChars = 0,
    .fMaxTotalCharsInK = kMaxPrintfLimitAtStartK,
    .fMaxFileSizeReached = 0,
    .fLayout = kMaxPrintfLayout,
    .fSize = sizeof(MaxPrintfRecord)};

// The record's symbol name, SafeStdLibPrivate::sMaxPrintfRecord mangled:
// the build reads it from here too (OSUtilities/internal/OSProcessSymbols.h).
#define SAFESTDLIB_MAXPRINTF_RECORD_SYMBOL "_ZN17SafeStdLibPrivate16sMaxPrintfRecordE"

namespace SafeStdLibPrivate {
SAFESTDLIB_API extern MaxPrintfRecord sMaxPrintfRecord;
}

#endif  // MaxPrintfRecord_H
