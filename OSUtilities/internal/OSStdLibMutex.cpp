// OSStdLibMutex.cpp: the standard-library mutex itself, and the process
// record beside it, one of each per process.
//
// Alone in their file: OS_PROCESS_UNIQUE requires that nothing here refers
// to them. Every use goes through the dynamic linker, so every copy of the
// library in the process takes the same mutex.

#include "OSUtilities/OS.h"
#include "OSUtilities/internal/OSProcessRecord.h"
#include "OSUtilities/internal/OSProcessSymbols.h"
#include "OSUtilities/internal/OSProcessUnique.h"

OS_PROCESS_UNIQUE(OS_STDLIB_MUTEX_SYMBOL)
OS_PROCESS_STORAGE constinit OSMutex OS::sStdLibOSMutex;

OS_PROCESS_UNIQUE(OS_PROCESS_RECORD_SYMBOL)
OS_PROCESS_STORAGE constinit OSProcessRecord OSPrivate::sProcess = {
    .fCore = {},
    .fWaits = {},
    .fInterface = {.fLayout = kOSProcessLayout,
                   .fSize = sizeof(OSProcessRecord),
                   .fMutexProtocol = kOSMutexProtocol,
                   .fMutexSize = sizeof(OSMutex),
                   .fThreadEnd = kOSThreadEndChain},
    .fExit = {}};

// Whoever links the mutex from a static library links the process join too
// (OSProcessJoin.cpp), and through it the fork handlers, the exit hold and
// the thread-end release: this reference pulls them in.
void OSJoinTheProcess();
[[maybe_unused]] __attribute__((used)) static void (*const sJoinTheProcess)() = OSJoinTheProcess;
