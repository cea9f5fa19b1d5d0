# Test programs of a 32-bit x86 build run natively where the kernel runs
# 32-bit programs, and under qemu-i386 (Debian's qemu-user) where it refuses
# them with "Exec format error", so the suite passes the same way everywhere.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(probe ${CMAKE_CURRENT_BINARY_DIR}/safestdlib_runs_32bit.c)
  file(WRITE ${probe} "int main(void) { return 0; }\n")
  try_run(runs compiles ${CMAKE_CURRENT_BINARY_DIR}/safestdlib_runs_32bit SOURCES ${probe})
  if(compiles AND NOT runs EQUAL 0)
    find_program(SAFESTDLIB_QEMU_I386 qemu-i386 REQUIRED)
    message(STATUS "32-bit programs do not run here; tests run under ${SAFESTDLIB_QEMU_I386}")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SAFESTDLIB_QEMU_I386})
  endif()
endif()
