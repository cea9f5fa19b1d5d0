# Shared by the cross toolchain files: Debian's cross compiler for
# SAFESTDLIB_TRIPLET, searching the triplet's sysroot for libraries, headers
# and packages. A host of an installed copy adds its own prefix to
# CMAKE_FIND_ROOT_PATH with -D.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${SAFESTDLIB_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${SAFESTDLIB_TRIPLET}-g++)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${SAFESTDLIB_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
