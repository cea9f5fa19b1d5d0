// Built into a host that adds the library as a subdirectory: such a host
// sees the public headers as an installed host does, and no private one,
// however it spells it.
#include <SafeStdLib/OS.h>
#include <SafeStdLib/SafeStdLib.h>

#if __has_include("internal/OSMutexProtocol.h") ||                            \
                  __has_include(                                              \
                      "OSUtilities/internal/OSMutexProtocol.h") ||            \
                      __has_include(                                          \
                          "OSMutexProtocol.h") ||                             \
                          __has_include("internal/MaxPrintfRecord.h") ||      \
                                        __has_include("OSProcessRecord.h") || \
                                                      __has_include("OSUtilities/OSMutex.h")
#  error "a private header, or the source tree, is on the host's include path"
#endif

int PrivateHeadersAreHidden() { return 0; }
