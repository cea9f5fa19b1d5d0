// OSProcessSymbols.h: the symbol names of the process-wide definitions,
// written once. The code binds and looks them up by these names; the build
// reads them from here for the executables' export flags, the pkg-config
// file and the exported-symbol check.
//
// Private to the library; never installed. Each is the mangled name of its
// C++ declaration: OS::sStdLibOSMutex (OS.h), OSPrivate::sProcess
// (OSProcessRecord.h) and SafeStdLibPrivate::sMaxPrintfRecord
// (MaxPrintfRecord.h); the exported-symbol check fails if one drifts.
#ifndef OSProcessSymbols_H
#define OSProcessSymbols_H

#define OS_STDLIB_MUTEX_SYMBOL "_ZN2OS14sStdLibOSMutexE"
#define OS_PROCESS_RECORD_SYMBOL "_ZN9OSPrivate8sProcessE"
#define OS_MAXPRINTF_RECORD_SYMBOL "_ZN17SafeStdLibPrivate16sMaxPrintfRecordE"

#endif  // OSProcessSymbols_H
