// OSProcessJoin.h: what the process join (OSProcessJoin.cpp) offers the
// jobs it starts: the exit hold, the fork handlers and the thread-end key.
//
// Private to the library; never installed.
#ifndef OSProcessJoin_H
#define OSProcessJoin_H

// Writes `SafeStdLib: <this copy's object> <what>` on standard error: the
// one line a copy says when it gives something up. Never blocks.
void OSSayOfThisCopy(const char* what);

#endif  // OSProcessJoin_H
