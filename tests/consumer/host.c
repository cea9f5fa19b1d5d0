/* A C host: the C-linkage routines only. */
#include <string.h>

#include "SafeStdLib.h"

int main(void) {
  char text[32];
  if (zuvo_snprintf(text, sizeof text, "%s", "c host") != 6) return 1;
  if (zuvo_strerror(0, text, sizeof text) != text) return 1;
  return zuvo_printf("c host\n") == 7 ? 0 : 1;
}
