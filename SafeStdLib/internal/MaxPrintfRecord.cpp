// MaxPrintfRecord.cpp: the capped console printer's state, one per process.
//
// Alone in its file: OS_PROCESS_UNIQUE requires that nothing here refers to
// it.

#include "MaxPrintfRecord.h"

#include "internal/OSProcessSymbols.h"
#include "internal/OSProcessUnique.h"

OS_PROCESS_UNIQUE(OS_MAXPRINTF_RECORD_SYMBOL)
OS_PROCESS_STORAGE MaxPrintfRecord SafeStdLibPrivate::sMaxPrintfRecord = {0, 100000, 0, 0, 0};
