# 64-bit ARM with g++-aarch64-linux-gnu; programs run under qemu-aarch64
# with the cross sysroot's runtime.
set(SAFESTDLIB_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${SAFESTDLIB_TRIPLET})
