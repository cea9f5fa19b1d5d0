// ThreadEndHost.h: thread bodies from host code built without exceptions.
#ifndef SafeStdLib_ThreadEndHost_H
#define SafeStdLib_ThreadEndHost_H

// Takes the standard-library mutex with an OSMutexLocker and waits to be
// cancelled.
void* HoldInLockerUntilCancelled(void*);

#endif  // SafeStdLib_ThreadEndHost_H
