# CPack: `cpack -G TGZ` makes one archive of the whole install tree;
# `cpack -G DEB` makes Debian packages split the Debian way, from a build
# with BUILD_SHARED_LIBS=ON (which also builds the static library):
#   libsafestdlib1     the shared library (component "runtime")
#   libsafestdlib-dev  headers, static library, CMake package and .pc file
#                      (component "development"), depending on the first
# A static-only build makes libsafestdlib-dev alone.
set(CPACK_PACKAGE_NAME safestdlib)
set(CPACK_PACKAGE_VENDOR "the SafeStdLib authors")
set(CPACK_PACKAGE_CONTACT "the SafeStdLib authors")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SOURCE_IGNORE_FILES "/build/" "/\\\\.git/")

# The archive holds every component; the Debian packages one each.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_DEB_COMPONENT_INSTALL ON)
if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENTS_ALL runtime development)
else()
  set(CPACK_COMPONENTS_ALL development)
endif()

set(soname_package libsafestdlib${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the SafeStdLib authors")
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
  "${PROJECT_DESCRIPTION} (headers, static library, CMake package and pkg-config file)")
# The runtime package's dependencies come from the shared library itself
# where dpkg-shlibdeps is there to read them, with the file utility, which
# CPack runs first to find the binaries (a minimal Debian lacks it); the
# development package pins the runtime package of the same version.
find_program(SAFESTDLIB_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(SAFESTDLIB_FILE file)
if(SAFESTDLIB_DPKG_SHLIBDEPS AND SAFESTDLIB_FILE)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
if(BUILD_SHARED_LIBS)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${soname_package} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
endif()

include(CPack)
