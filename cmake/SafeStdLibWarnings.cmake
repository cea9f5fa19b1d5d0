# safestdlib_warnings: the warning set for the project's own code. Linked
# privately, never exported. Warnings become errors only where a developer
# asks for it: CMAKE_COMPILE_WARNING_AS_ERROR (CMake 3.24+), which the
# presets and CI turn on; a user's plain build never fails on a warning that
# a newer compiler adds.
add_library(safestdlib_warnings INTERFACE)
target_compile_options(safestdlib_warnings INTERFACE
  -Wall -Wextra -Wpedantic
  $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety>)
