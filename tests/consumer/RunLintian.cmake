# Runs lintian, pedantic, on the Debian packages that RunPackages.cmake
# made, and fails on any error it reports. Where lintian is not installed,
# says so (the test is then skipped).
#   cmake -DPACKAGES=<folder with the .deb files> -P RunLintian.cmake
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message("lintian not found: packages not checked")
  return()
endif()
file(GLOB debs ${PACKAGES}/*.deb)
list(LENGTH debs count)
if(count LESS 2)
  message(FATAL_ERROR "expected the Debian packages in ${PACKAGES}, found: ${debs}")
endif()
execute_process(COMMAND ${LINTIAN} -i --pedantic ${debs}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
string(REGEX MATCHALL "(^|\n)E: [^\n]*" errors "${out}")
if(errors OR NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian (exit code ${rc}) finds errors in ${debs}")
endif()
