# Installs the library, its headers (in include/SafeStdLib), a CMake package
# (SafeStdLib::SafeStdLib) and a pkg-config module (safestdlib), in two
# components: "runtime" (the shared library and the licence) and
# "development" (everything a host builds against).
include(CMakePackageConfigHelpers)

set(SAFESTDLIB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SafeStdLib)
if(BUILD_SHARED_LIBS)
  set(SAFESTDLIB_DOC_COMPONENT runtime)
else()
  set(SAFESTDLIB_DOC_COMPONENT development)
endif()

# safestdlib_install_library(<target> <kind>): the library and its exported
# target, in SafeStdLibTargets-<kind>.cmake, so that a static and a shared
# build can be installed side by side.
function(safestdlib_install_library target kind)
  install(TARGETS ${target}
    EXPORT SafeStdLibTargets-${kind}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(EXPORT SafeStdLibTargets-${kind}
    NAMESPACE SafeStdLib::
    DESTINATION ${SAFESTDLIB_CMAKE_DIR}
    COMPONENT development)
endfunction()

if(BUILD_SHARED_LIBS)
  safestdlib_install_library(safestdlib shared)
  if(TARGET safestdlib_static)
    safestdlib_install_library(safestdlib_static static)
  endif()
else()
  safestdlib_install_library(safestdlib static)
endif()

install(FILES ${SAFESTDLIB_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/SafeStdLib
  COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT ${SAFESTDLIB_DOC_COMPONENT})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/SafeStdLibConfig.cmake.in
  ${PROJECT_BINARY_DIR}/SafeStdLibConfig.cmake
  INSTALL_DESTINATION ${SAFESTDLIB_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/SafeStdLibConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/SafeStdLibConfig.cmake
  ${PROJECT_BINARY_DIR}/SafeStdLibConfigVersion.cmake
  DESTINATION ${SAFESTDLIB_CMAKE_DIR}
  COMPONENT development)

# pkg-config. The prefix is found from the .pc file's own place, so the tree
# may be installed anywhere (cmake --install --prefix, DESTDIR); an absolute
# install dir is kept as it is.
function(safestdlib_join_paths out base path)
  if(IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${base}/${path}" PARENT_SCOPE)
  endif()
endfunction()

set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${pc_dir}")
  set(SAFESTDLIB_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH up /root/${pc_dir} /root)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(SAFESTDLIB_PC_PREFIX "\${pcfiledir}/${up}")
endif()
safestdlib_join_paths(SAFESTDLIB_PC_LIBDIR "\${prefix}" "${CMAKE_INSTALL_LIBDIR}")
safestdlib_join_paths(SAFESTDLIB_PC_INCLUDEDIR "\${prefix}" "${CMAKE_INSTALL_INCLUDEDIR}")

# A static library drags the thread library, the dynamic linker's library
# and the C++ runtime along, and an executable that holds it offers its
# process-wide state to plugins (see the library target).
set(SAFESTDLIB_PC_LIBS_PRIVATE "-pthread")
foreach(symbol IN LISTS SAFESTDLIB_PROCESS_SYMBOLS)
  string(APPEND SAFESTDLIB_PC_LIBS_PRIVATE " -Wl,--export-dynamic-symbol=${symbol}")
endforeach()
foreach(lib IN LISTS CMAKE_DL_LIBS SAFESTDLIB_CXX_RUNTIME)
  if(IS_ABSOLUTE "${lib}" OR lib MATCHES "^-")
    string(APPEND SAFESTDLIB_PC_LIBS_PRIVATE " ${lib}")
  else()
    string(APPEND SAFESTDLIB_PC_LIBS_PRIVATE " -l${lib}")
  endif()
endforeach()

# Every define in the library's link interface (the shared build's and the
# valgrind build's) reaches pkg-config hosts too.
set(defines "$<TARGET_PROPERTY:safestdlib,INTERFACE_COMPILE_DEFINITIONS>")
set(SAFESTDLIB_PC_DEFINES "$<$<BOOL:${defines}>: -D$<JOIN:${defines}, -D>>")

configure_file(${CMAKE_CURRENT_LIST_DIR}/safestdlib.pc.in
  ${PROJECT_BINARY_DIR}/safestdlib.pc.gen @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/safestdlib.pc
  INPUT ${PROJECT_BINARY_DIR}/safestdlib.pc.gen)
install(FILES ${PROJECT_BINARY_DIR}/safestdlib.pc
  DESTINATION ${pc_dir}
  COMPONENT development)
