// OSProcessSymbols.h: the symbol names of the utilities' process-wide
// definitions, written once. The code binds and looks them up by these
// names; the build reads every `#define ..._SYMBOL "..."` from here (and
// the routines' from SafeStdLib/internal/MaxPrintfRecord.h) for the
// executables' export flags, the pkg-config file and the exported-symbol
// check.
//
// Private to the library; never installed. Each is the mangled name of its
// C++ declaration: OS::sStdLibOSMutex (OS.h) and OSPrivate::sProcess
// (OSProcessRecord.h); the exported-symbol check fails if one drifts.
#ifndef OSProcessSymbols_H
#define OSProcessSymbols_H

#define OS_STDLIB_MUTEX_SYMBOL "_ZN2OS14sStdLibOSMutexE"
#define OS_PROCESS_RECORD_SYMBOL "_ZN9OSPrivate8sProcessE"

#endif  // OSProcessSymbols_H
