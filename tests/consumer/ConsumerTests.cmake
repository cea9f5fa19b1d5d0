# The tests of copies built the way users and packagers build: hosts
# against an installed copy, static and shared, Debian packages, pkg-config
# layouts, the library alone, the headers in hosts with strict warnings,
# and the sources against musl. Included from tests/CMakeLists.txt.

# The public headers in hosts that build with strict warnings.
add_test(NAME Headers.CleanUnderStrictWarnings
  COMMAND ${CMAKE_COMMAND} -DCC=${CMAKE_C_COMPILER} -DCXX=${CMAKE_CXX_COMPILER}
          -DINCLUDE=${PROJECT_BINARY_DIR}/include -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/CheckStrictHeaders.cmake)

# The library's sources against musl's headers, and the C-linkage test
# against musl, where Debian's musl-tools is installed.
find_program(MUSL_GCC musl-gcc)
if(MUSL_GCC AND NOT CMAKE_CROSSCOMPILING AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(JOIN SAFESTDLIB_SOURCES "|" musl_sources)
  set(musl_includes ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/include/SafeStdLib)
  list(JOIN musl_includes "|" musl_includes)
  add_test(NAME Musl.SourcesCompileAndCLinkageRuns
    COMMAND ${CMAKE_COMMAND} -DCC=${CMAKE_C_COMPILER} -DCXX=${CMAKE_CXX_COMPILER} -DMUSL_GCC=${MUSL_GCC}
            "-DSOURCES=${musl_sources}" "-DINCLUDES=${musl_includes}"
            -DTEST=${CMAKE_CURRENT_SOURCE_DIR}/CLinkageTest.c -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/musl
            -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/CheckMusl.cmake)
endif()

# Hosts built against an installed copy, static and shared, and the ways
# users and packagers build. They build the library afresh, so sanitizer
# builds leave them out.
if(SAFESTDLIB_CONSUMER_TESTS)
  set(tools -DCC=${CMAKE_C_COMPILER} -DCXX=${CMAKE_CXX_COMPILER} -DGENERATOR=${CMAKE_GENERATOR}
            -DMAKE_PROGRAM=${CMAKE_MAKE_PROGRAM} -DVERSION=${PROJECT_VERSION} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DOBJDUMP=${CMAKE_OBJDUMP})
  if(CMAKE_CROSSCOMPILING)
    get_filename_component(toolchain ${CMAKE_TOOLCHAIN_FILE} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    list(APPEND tools -DTOOLCHAIN=${toolchain} "-DEMULATOR=${safestdlib_emulator}")
  endif()
  foreach(kind static shared)
    if(kind STREQUAL "shared")
      set(shared ON)
    else()
      set(shared OFF)
    endif()
    add_test(NAME Install.ConsumersOf_${kind}
      COMMAND ${CMAKE_COMMAND} ${tools} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/consumer-${kind}
              -DSHARED=${shared} -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/RunConsumer.cmake)
    set_tests_properties(Install.ConsumersOf_${kind} PROPERTIES TIMEOUT 600)
  endforeach()

  # Once per compiler: these configure and build trees of their own.
  if(NOT BUILD_SHARED_LIBS)
    # Packages are built on their own target, not cross.
    find_program(DPKG_DEB dpkg-deb)
    if(DPKG_DEB AND NOT CMAKE_CROSSCOMPILING)
      add_test(NAME Install.DebianPackagesAndArchive
        COMMAND ${CMAKE_COMMAND} ${tools} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/packages
                -DCPACK=${CMAKE_CPACK_COMMAND} -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/RunPackages.cmake)
      set_tests_properties(Install.DebianPackagesAndArchive PROPERTIES TIMEOUT 600 FIXTURES_SETUP debian_packages)
      # lintian, where it is installed, on the packages that test made.
      add_test(NAME Install.DebianPackagesPassLintian
        COMMAND ${CMAKE_COMMAND} -DPACKAGES=${CMAKE_CURRENT_BINARY_DIR}/packages/library
                -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/RunLintian.cmake)
      set_tests_properties(Install.DebianPackagesPassLintian PROPERTIES TIMEOUT 600
        FIXTURES_REQUIRED debian_packages SKIP_REGULAR_EXPRESSION "lintian not found")
    endif()
    add_test(NAME Build.LibraryAloneNeedsOnlyCMakeAndACompiler
      COMMAND ${CMAKE_COMMAND} ${tools} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/library-alone
              -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/CheckLibraryAlone.cmake)
    add_test(NAME Install.PkgConfigFileForEveryLayout
      COMMAND ${CMAKE_COMMAND} ${tools} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/pc-layouts
              -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/CheckPkgConfigFile.cmake)
    set_tests_properties(Build.LibraryAloneNeedsOnlyCMakeAndACompiler Install.PkgConfigFileForEveryLayout
      PROPERTIES TIMEOUT 600)
  endif()
endif()
