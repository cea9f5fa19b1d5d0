// What the static constructor of StaticInitHost.cpp saw before main().
#ifndef SafeStdLib_StaticInitHost_H
#define SafeStdLib_StaticInitHost_H

struct StaticInitRecord {
  unsigned maxCharsInK = 0;
  int snprintfResult = 0;
  char text[32] = {};
};

extern StaticInitRecord gStaticInitRecord;
// Set in a child that should use the library from its exit handlers.
extern bool gUseAtExit;

#endif
