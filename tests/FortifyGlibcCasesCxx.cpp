// glibc's fortification cases for its printf family, as a C++ host builds
// them (FortifyGlibcCases.c).
#include "FortifyGlibcCases.c"
