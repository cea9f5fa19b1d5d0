// The same calls as TimeBitsCalls.c, compiled as C++.
#include "TimeBitsCalls.c"
