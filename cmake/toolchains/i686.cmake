# 32-bit x86 with g++-i686-linux-gnu. Programs run under qemu-i386 with the
# machine's own 32-bit runtime (Debian's libc6-i386 and lib32stdc++6, the
# same versions as the cross sysroot's): pointed at the sysroot with -L,
# their threads hang.
set(SAFESTDLIB_TRIPLET i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
