// OSExitHold.h: what the process join (OSProcessJoin.cpp) asks of the exit
// hold (OSExitHold.cpp).
//
// Private to the library; never installed.
#ifndef OSExitHold_H
#define OSExitHold_H

// For the copy that takes charge of the process, which is never unloaded:
// at exit, once every exit handler and destructor has run, the exiting
// thread takes the standard-library mutex for good (OSExitHold.cpp). Never
// blocks.
void OSArmExitHold();

#endif  // OSExitHold_H
