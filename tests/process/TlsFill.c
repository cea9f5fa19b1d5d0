/* An object with initialised static (initial-exec) TLS, for loader's
 * reuse test and the two-releases scenarios: loaded after a plugin with a
 * copy of the library has been unloaded, the C library may give it that
 * plugin's TLS space in every live thread and copy this initial image
 * there, so that whatever still pointed into the plugin's TLS now reads
 * 0x42 bytes. */
#define FILL8 0x42, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42, 0x42
#define FILL64 FILL8, FILL8, FILL8, FILL8, FILL8, FILL8, FILL8, FILL8

/* Exported, so that the compiler cannot fold the reads below into a
 * constant and leave the object without TLS. */
__attribute__((visibility("default"))) __thread
    __attribute__((tls_model("initial-exec"))) unsigned char fill[256] = {FILL64, FILL64, FILL64,
                                                                          FILL64};

/* 1 when the calling thread's copy is as initialised. */
__attribute__((visibility("default"))) int TlsFillIntact(void) {
  for (unsigned i = 0; i < sizeof fill; ++i)
    if (fill[i] != 0x42) return 0;
  return 1;
}
