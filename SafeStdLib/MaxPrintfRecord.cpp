// MaxPrintfRecord.cpp: the capped console printer's state, one per process.
//
// Alone in its file: OS_PROCESS_UNIQUE requires that nothing here refers to
// it.

#include "MaxPrintfRecord.h"

#include "OSProcessUnique.h"

OS_PROCESS_UNIQUE("_ZN17SafeStdLibPrivate16sMaxPrintfRecordE")
OS_PROCESS_STORAGE MaxPrintfRecord SafeStdLibPrivate::sMaxPrintfRecord = {0, 100000, 0};
