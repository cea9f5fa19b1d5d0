// OSForkGuard.h: what the process join (OSProcessJoin.cpp) asks of the fork
// handlers (OSForkGuard.cpp).
//
// Private to the library; never installed.
#ifndef OSForkGuard_H
#define OSForkGuard_H

// For the copy that takes charge of the process, which is never unloaded:
// registers the fork handlers, so that the forking thread holds the
// standard-library mutex across fork() and the child counts no waiter of
// its parent's, and starts with none of its exit. They stay registered
// through the whole exit. False when the C library refuses them. Never
// blocks.
bool OSGuardForks();

// For a copy that keeps a standard-library mutex of its own (its symbols
// hidden, or locked another way): the same for that mutex, registered for
// the copy's own object, so that unloading it drops them. False when the C
// library refuses them. Never blocks.
bool OSGuardOwnMutexAcrossForks();

// For a copy that counts its waits apart from the process's: registers the
// reset of its own waiters and stall in a child. False when the C library
// refuses it. Never blocks.
bool OSResetWaitsInChildren();

#endif  // OSForkGuard_H
