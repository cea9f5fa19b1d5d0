# Installs the library, its headers (in include/SafeStdLib), a CMake package
# (SafeStdLib::SafeStdLib) and pkg-config modules (safestdlib, and
# safestdlib-static where the static library is installed), in two
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

# What a host that links the static library needs besides it: the thread
# library, the dynamic linker's library and the C++ runtime; and an
# executable that holds it offers its process-wide state to plugins (see the
# library target).
set(SAFESTDLIB_PC_STATIC_NEEDS "-pthread")
foreach(symbol IN LISTS SAFESTDLIB_PROCESS_SYMBOLS)
  string(APPEND SAFESTDLIB_PC_STATIC_NEEDS " -Wl,--export-dynamic-symbol=${symbol}")
endforeach()
foreach(lib IN LISTS CMAKE_DL_LIBS SAFESTDLIB_CXX_RUNTIME)
  if(IS_ABSOLUTE "${lib}" OR lib MATCHES "^-")
    string(APPEND SAFESTDLIB_PC_STATIC_NEEDS " ${lib}")
  else()
    string(APPEND SAFESTDLIB_PC_STATIC_NEEDS " -l${lib}")
  endif()
endforeach()

# safestdlib_pc_file(<module> <target> <what> <libs> [<libs.private>]):
# <module>.pc for one build of the library. Every define in that build's
# link interface (the shared build's and the valgrind build's) reaches
# pkg-config hosts too.
function(safestdlib_pc_file module target what libs)
  set(SAFESTDLIB_PC_MODULE ${module})
  set(SAFESTDLIB_PC_WHAT "${what}")
  set(SAFESTDLIB_PC_LIBS "${libs}")
  if(ARGC GREATER 4)
    set(SAFESTDLIB_PC_LIBS_PRIVATE "\nLibs.private: ${ARGV4}")
  else()
    set(SAFESTDLIB_PC_LIBS_PRIVATE "")
  endif()
  set(defines "$<TARGET_PROPERTY:${target},INTERFACE_COMPILE_DEFINITIONS>")
  set(SAFESTDLIB_PC_DEFINES "$<$<BOOL:${defines}>: -D$<JOIN:${defines}, -D>>")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/safestdlib.pc.in ${PROJECT_BINARY_DIR}/${module}.pc.gen @ONLY)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/${module}.pc INPUT ${PROJECT_BINARY_DIR}/${module}.pc.gen)
  install(FILES ${PROJECT_BINARY_DIR}/${module}.pc
    DESTINATION ${pc_dir}
    COMPONENT development)
endfunction()

# Two modules, the way C libraries that install both kinds often do:
#   safestdlib         the library that -lsafestdlib finds: the shared one
#                      where it is installed, else the static one;
#   safestdlib-static  the static library, by its file name, wherever one is
#                      installed (beside a shared one, -lsafestdlib would find
#                      the shared one).
# A module for the static library puts everything in Libs, so that a host
# gets what it needs to link with or without --static: a C host the C++
# runtime, an executable the export flags. The shared module's Libs carries
# the thread library, as the CMake target does (Threads::Threads is part of
# its interface): before glibc 2.34 a threaded host links libpthread itself.
# Its Libs.private is what a fully static link (-static, with --static)
# needs.
if(BUILD_SHARED_LIBS)
  safestdlib_pc_file(safestdlib safestdlib "" "-lsafestdlib -pthread" "${SAFESTDLIB_PC_STATIC_NEEDS}")
  set(static_target safestdlib_static)
else()
  safestdlib_pc_file(safestdlib safestdlib "" "-lsafestdlib ${SAFESTDLIB_PC_STATIC_NEEDS}")
  set(static_target safestdlib)
endif()
if(TARGET ${static_target})
  safestdlib_pc_file(safestdlib-static ${static_target} " (static library)"
    "-l:$<TARGET_FILE_NAME:${static_target}> ${SAFESTDLIB_PC_STATIC_NEEDS}")
endif()
