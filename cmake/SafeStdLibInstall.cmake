# Installs the library, its headers (in include/SafeStdLib), a CMake package
# (SafeStdLib::SafeStdLib) and a pkg-config module (safestdlib).
include(CMakePackageConfigHelpers)

set(SAFESTDLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SafeStdLib)

install(TARGETS safestdlib
  EXPORT SafeStdLibTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/SafeStdLib)

install(EXPORT SafeStdLibTargets
  NAMESPACE SafeStdLib::
  DESTINATION ${SAFESTDLIB_CMAKE_DIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/SafeStdLibConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/SafeStdLibConfig.cmake
  INSTALL_DESTINATION ${SAFESTDLIB_CMAKE_DIR})
write_basic_package_version_file(
  ${CMAKE_CURRENT_BINARY_DIR}/SafeStdLibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/SafeStdLibConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/SafeStdLibConfigVersion.cmake
  DESTINATION ${SAFESTDLIB_CMAKE_DIR})

# pkg-config: a static library drags the C++ runtime (for unwinding) and the
# thread library along in Libs.private.
if(BUILD_SHARED_LIBS)
  set(SAFESTDLIB_PC_CFLAGS "-DSAFESTDLIB_SHARED")
else()
  set(SAFESTDLIB_PC_CFLAGS "")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/safestdlib.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/safestdlib.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/safestdlib.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
