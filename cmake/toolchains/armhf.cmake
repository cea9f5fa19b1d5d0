# 32-bit ARM, hard float, with g++-arm-linux-gnueabihf; programs run under
# qemu-arm with the cross sysroot's runtime.
set(SAFESTDLIB_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/DebianCross.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${SAFESTDLIB_TRIPLET})
