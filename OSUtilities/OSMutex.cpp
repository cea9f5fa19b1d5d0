// OSMutex.cpp: OSMutex's entries for hosts. Each runs the lock protocol
// (OSUtilities/internal/OSMutexProtocol.h) inline, so that a host calls
// into the library once per lock or unlock.

#include "OSUtilities/OSMutex.h"

#include "OSUtilities/internal/OSMutexProtocol.h"

void OSMutex::RecursiveLock() { OSMutexProtocol::Lock(*this); }
void OSMutex::RecursiveUnlock() { OSMutexProtocol::Unlock(*this); }
Bool16 OSMutex::RecursiveTryLock() { return OSMutexProtocol::TryLock(*this); }
