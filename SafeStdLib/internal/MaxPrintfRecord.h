// MaxPrintfRecord.h: the capped console printer's state, one per process.
//
// Private to the library; never installed. The record is exported with
// STB_GNU_UNIQUE binding (see OSProcessUnique.h), so that every copy of the
// library in the process counts into one total against one limit.
// Written only while the standard-library mutex is held.
#ifndef MaxPrintfRecord_H
#define MaxPrintfRecord_H

#include "OSHeaders.h"

struct MaxPrintfRecord {
  UInt64 fTotalChars;        // characters printed since the process started
  UInt32 fMaxTotalCharsInK;  // the output limit, in K of 1024 characters
  int fMaxFileSizeReached;   // 1 from the notice until the next allowed print
  // 1 while the mutex's holder is inside a printer's C library call, 0
  // otherwise; stored by the holder, read atomically by the exit hold,
  // which waits for a print under way however long it takes (OS.cpp).
  int fPrinting;
  // 1 while the exit hold waits for the mutex: a printer that takes it
  // then, holding no other level, lets go and waits for the hold, so that
  // threads printing without a pause cannot keep the exit from it.
  int fExitWaiting;
};

namespace SafeStdLibPrivate {
SAFESTDLIB_API extern MaxPrintfRecord sMaxPrintfRecord;
}

#endif  // MaxPrintfRecord_H
