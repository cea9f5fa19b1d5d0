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

// For the copy in charge's fork handler, in the child: the child starts
// with none of its parent's exit: no hold waiting or over, no print
// marked; a child forked before the parent's hold was over holds the
// mutex at its own exit (OSExitHold.cpp). Never blocks.
void OSStartChildWithoutTheExit();

#endif  // OSExitHold_H
