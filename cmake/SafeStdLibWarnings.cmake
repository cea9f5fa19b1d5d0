# safestdlib_warnings: the warning set for the project's own code, errors
# included. Linked privately, never exported.
add_library(safestdlib_warnings INTERFACE)
target_compile_options(safestdlib_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Werror
  $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety>)
