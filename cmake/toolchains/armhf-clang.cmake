# 32-bit ARM, hard float, with clang++ and the cross sysroot and binutils
# of g++-arm-linux-gnueabihf; programs run as in armhf.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/armhf.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${SAFESTDLIB_TRIPLET})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${SAFESTDLIB_TRIPLET})
