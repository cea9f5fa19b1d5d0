# CPack: `cpack -G TGZ` makes one archive of the whole install tree;
# `cpack -G DEB` makes Debian packages split the Debian way, from a build
# with BUILD_SHARED_LIBS=ON (which also builds the static library):
#   libsafestdlib1     the shared library (component "runtime")
#   libsafestdlib-dev  headers, static library, CMake package and .pc files
#                      (component "development"), depending on the first
# A static-only build makes libsafestdlib-dev alone. The packages are meant
# to pass lintian: each has its copyright file and changelog.Debian.gz in
# /usr/share/doc/<package>, and the shared library's package its shlibs
# file and an ldconfig trigger (cmake/debian/).
set(CPACK_PACKAGE_NAME safestdlib)
set(CPACK_PACKAGE_VENDOR "the SafeStdLib authors")
# A project address, not a person's (.invalid: it reaches no one).
set(CPACK_PACKAGE_CONTACT "SafeStdLib maintainers <maintainers@safestdlib.invalid>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\\\.git/")
# Binaries are shipped without their symbol tables.
set(CPACK_STRIP_FILES ON)

# The archive holds every component; the Debian packages one each.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENTS_ALL runtime development)
else()
  set(CPACK_COMPONENTS_ALL development)
endif()

set(soname_package libsafestdlib${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SOURCE safestdlib)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${soname_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libsafestdlib-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "${PROJECT_DESCRIPTION} (shared library)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "${PROJECT_DESCRIPTION} (headers, static library, CMake package and pkg-config files)")
# The Debian descriptions: CPack puts the summary (PROJECT_DESCRIPTION) on
# the first line and these below it, a line each, at most 79 characters.
set(about
  "SafeStdLib's routines stand in for printf, snprintf, localtime, strftime,"
  "strerror and their siblings: each makes its C library call under one"
  "process-wide mutex and copies any result kept in static storage to the"
  "caller. A host and the plugins that hold copies of the library share"
  "that one mutex."
  "")
list(JOIN about "\n" about)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${about}\nThis package holds the shared library.")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "${about}\nThis package holds what a host builds against: the headers, the static
library, the CMake package (SafeStdLib::SafeStdLib) and the pkg-config
modules (safestdlib, safestdlib-static).")

set(deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(deb_dir ${PROJECT_BINARY_DIR}/debian)
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${soname_package} (= ${deb_version})")

  # The shared library's package: a shlibs file, for the packages built
  # against it, and an ldconfig trigger, not maintainer scripts.
  file(WRITE ${deb_dir}/shlibs
    "libsafestdlib ${PROJECT_VERSION_MAJOR} ${soname_package} (>= ${PROJECT_VERSION})\n")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${deb_dir}/shlibs ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Its dependencies come from dpkg-shlibdeps where it is there to read the
  # library (cmake/debian/SafeStdLibDebDepends.cmake, with CMake 3.19 on).
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6")
  find_program(SAFESTDLIB_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(SAFESTDLIB_DPKG_SHLIBDEPS)
    set(CPACK_SAFESTDLIB_DPKG_SHLIBDEPS ${SAFESTDLIB_DPKG_SHLIBDEPS})
    set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/SafeStdLibDebDepends.cmake)
  endif()
endif()

# /usr/share/doc/<package>/copyright and changelog.Debian.gz. Installed only
# with their component (EXCLUDE_FROM_ALL): the Debian packages have them, a
# plain `cmake --install` and the archive do not. Without gzip, there is no
# changelog.Debian.gz.
string(TIMESTAMP SAFESTDLIB_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(SAFESTDLIB_DEB_VERSION ${deb_version})
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${deb_dir}/changelog.Debian @ONLY)
set(deb_docs ${deb_dir}/copyright)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${deb_dir}/copyright COPYONLY)
find_program(SAFESTDLIB_GZIP gzip)
if(SAFESTDLIB_GZIP)
  execute_process(COMMAND ${SAFESTDLIB_GZIP} -9nc ${deb_dir}/changelog.Debian
    OUTPUT_FILE ${deb_dir}/changelog.Debian.gz RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip ${deb_dir}/changelog.Debian failed")
  endif()
  list(APPEND deb_docs ${deb_dir}/changelog.Debian.gz)
endif()
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  install(FILES ${deb_docs}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME}
    COMPONENT ${component}
    EXCLUDE_FROM_ALL)
endforeach()

include(CPack)
