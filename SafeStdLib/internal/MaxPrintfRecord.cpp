// MaxPrintfRecord.cpp: the capped console printer's state, one per process.
//
// Alone in its file: OS_PROCESS_UNIQUE requires that nothing here refers to
// it.

#include "SafeStdLib/internal/MaxPrintfRecord.h"

#include "OSUtilities/internal/OSProcessUnique.h"

OS_PROCESS_UNIQUE(SAFESTDLIB_MAXPRINTF_RECORD_SYMBOL)
OS_PROCESS_STORAGE constinit MaxPrintfRecord SafeStdLibPrivate::sMaxPrintfRecord =
    kMaxPrintfRecordAtStart;
