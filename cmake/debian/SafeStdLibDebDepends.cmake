# Run by cpack (CPACK_PRE_BUILD_SCRIPTS) once the files are staged, before
# the packages are made: the shared library's package depends on what
# dpkg-shlibdeps finds the library needs. CPack's own reading of the
# binaries (CPACK_DEBIAN_PACKAGE_SHLIBDEPS) would also add maintainer
# scripts that call ldconfig, where the package has a trigger instead.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_SAFESTDLIB_DPKG_SHLIBDEPS)
  return()
endif()
file(GLOB_RECURSE libraries "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/runtime/*.so.*")
if(NOT libraries)
  message(FATAL_ERROR "no shared library staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/runtime")
endif()
# dpkg-shlibdeps wants a source package's debian/control; an empty one does.
set(work "${CPACK_TOPLEVEL_DIRECTORY}/shlibdeps")
file(WRITE "${work}/debian/control" "")
execute_process(COMMAND "${CPACK_SAFESTDLIB_DPKG_SHLIBDEPS}" -O ${libraries}
  WORKING_DIRECTORY "${work}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "shlibs:Depends=([^\n]+)")
  message(FATAL_ERROR "dpkg-shlibdeps ${libraries} failed (${rc}):\n${out}${err}")
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
