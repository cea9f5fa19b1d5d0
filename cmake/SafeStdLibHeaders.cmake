# The public headers, laid out in the build tree as they are installed:
# <include>/SafeStdLib/ holds all of them, so hosts may write either
# #include <SafeStdLib/SafeStdLib.h> (include path <include>) or the bare
# #include "SafeStdLib.h" (include path <include>/SafeStdLib).
#
# Sets SAFESTDLIB_PUBLIC_HEADERS (the files to install) and
# SAFESTDLIB_BUILD_INCLUDE_DIRS (the include path for targets built here).
set(SAFESTDLIB_PUBLIC_HEADERS
  ${PROJECT_SOURCE_DIR}/OSUtilities/OSHeaders.h
  ${PROJECT_SOURCE_DIR}/OSUtilities/OSThreadAnnotations.h
  ${PROJECT_SOURCE_DIR}/OSUtilities/OSMutex.h
  ${PROJECT_SOURCE_DIR}/OSUtilities/OS.h
  ${PROJECT_SOURCE_DIR}/SafeStdLib/SafeStdLib.h
  ${PROJECT_SOURCE_DIR}/SafeStdLib/SafeStdLibFortify.h)

# In the build tree, <SafeStdLib/X.h> forwards to the source file, so that
# diagnostics and edits land in the source. file(GENERATE) writes the
# content as given, final newline included (file(CONFIGURE) in CMake 3.18
# drops it, which clang's -Wnewline-eof rejects), and rewrites a file only
# when its content changes.
set(generated ${PROJECT_BINARY_DIR}/include/SafeStdLib)
foreach(header IN LISTS SAFESTDLIB_PUBLIC_HEADERS)
  get_filename_component(name ${header} NAME)
  file(GENERATE OUTPUT ${generated}/${name}
    CONTENT "/* Generated: forwards to the source tree. */\n#include \"${header}\"\n")
endforeach()

configure_file(${CMAKE_CURRENT_LIST_DIR}/SafeStdLibVersion.h.in ${generated}/SafeStdLibVersion.h @ONLY)
list(APPEND SAFESTDLIB_PUBLIC_HEADERS ${generated}/SafeStdLibVersion.h)

# Only the generated folders: a host that adds this project as a
# subdirectory sees the public headers as an installed host does, and none
# of the private ones.
set(SAFESTDLIB_BUILD_INCLUDE_DIRS
  $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
  $<BUILD_INTERFACE:${generated}>)
