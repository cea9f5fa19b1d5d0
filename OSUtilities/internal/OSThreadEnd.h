// OSThreadEnd.h: what the process join (OSProcessJoin.cpp) asks of the
// release of the standard-library mutex at the end of a thread that holds
// it (OSThreadEnd.cpp).
//
// Private to the library; never installed.
#ifndef OSThreadEnd_H
#define OSThreadEnd_H

#include "OSUtilities/OSHeaders.h"

// For the copy that takes charge of the process, bound to a process record
// of `layout`: makes the process's thread-end key, and offers every copy
// the way to make it again (OSProcessCore::fMakeThreadEndKey). A key that
// the C library refuses is said once and tried again at later first
// levels. Never blocks.
void OSTakeChargeOfThreadEnd(UInt32 layout);

// For a copy that shares a process whose copy in charge is bound to a
// record of `layout`: the protocol that copy's key destructor follows
// (kOSThreadEndChain or kOSThreadEndUnlinked).
UInt32 OSThreadEndProtocolOf(UInt32 layout);

#endif  // OSThreadEnd_H
