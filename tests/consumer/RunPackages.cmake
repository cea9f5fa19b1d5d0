# Builds the shared library (with the static one beside it) for /usr, makes
# the CPack packages, checks the Debian split, metadata and control files
# (RunLintian.cmake checks the packages further where lintian is installed),
# unpacks both .deb files with dpkg-deb -x (the machine's /usr stays
# untouched), and builds and runs hosts against the unpacked tree
# (check_consumers).
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... -DCXX=... -DGENERATOR=...
#         [-DMAKE_PROGRAM=...] -DVERSION=... -DCPACK=... -P RunPackages.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(build ${WORK_DIR}/library)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} ${tools}
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_PREFIX=/usr
    -DBUILD_TESTING=OFF -DSAFESTDLIB_BUILD_EXAMPLES=OFF -DSAFESTDLIB_BUILD_BENCH=OFF)
run(${CMAKE_COMMAND} --build ${build})
execute_process(COMMAND ${CPACK} -G TGZ WORKING_DIRECTORY ${build} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack -G TGZ failed:\n${out}")
endif()
execute_process(COMMAND ${CPACK} -G DEB WORKING_DIRECTORY ${build} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack -G DEB failed:\n${out}")
endif()

file(GLOB tgz ${build}/safestdlib-${VERSION}-*.tar.gz)
file(GLOB runtime_deb ${build}/libsafestdlib1_${VERSION}-1_*.deb)
file(GLOB dev_deb ${build}/libsafestdlib-dev_${VERSION}-1_*.deb)
if(NOT tgz OR NOT runtime_deb OR NOT dev_deb)
  file(GLOB made ${build}/*.tar.gz ${build}/*.deb)
  message(FATAL_ERROR "expected an archive and two Debian packages, cpack made: ${made}")
endif()

# field(<out> <deb> <field>): one control field of a package.
function(field out deb name)
  run(dpkg-deb -f ${deb} ${name})
  string(STRIP "${last_output}" value)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
field(section ${runtime_deb} Section)
field(depends ${runtime_deb} Depends)
if(NOT section STREQUAL "libs" OR NOT depends MATCHES "libc6")
  message(FATAL_ERROR "libsafestdlib1: Section '${section}', Depends '${depends}'")
endif()
field(section ${dev_deb} Section)
field(depends ${dev_deb} Depends)
if(NOT section STREQUAL "libdevel" OR NOT depends MATCHES "^libsafestdlib1 \\(= ${VERSION}-1\\)")
  message(FATAL_ERROR "libsafestdlib-dev: Section '${section}', Depends '${depends}'")
endif()

# The runtime package holds the shared library and the licence, nothing a
# host builds against; the development package holds the rest.
run(dpkg-deb -c ${runtime_deb})
set(runtime_files "${last_output}")
run(dpkg-deb -c ${dev_deb})
set(dev_files "${last_output}")
foreach(file "/libsafestdlib\\.so\\.1 -> " "/libsafestdlib\\.so\\.${VERSION}\n" "/doc/SafeStdLib/LICENSE\n")
  if(NOT runtime_files MATCHES "${file}")
    message(FATAL_ERROR "libsafestdlib1 lacks ${file}:\n${runtime_files}")
  endif()
endforeach()
foreach(file "\\.h\n" "\\.a\n" "\\.pc\n" "\\.cmake\n" "/libsafestdlib\\.so -> ")
  if(runtime_files MATCHES "${file}")
    message(FATAL_ERROR "libsafestdlib1 holds a development file (${file}):\n${runtime_files}")
  endif()
endforeach()
foreach(file "/include/SafeStdLib/SafeStdLib\\.h\n" "/libsafestdlib\\.a\n" "/pkgconfig/safestdlib\\.pc\n"
             "/pkgconfig/safestdlib-static\\.pc\n"
             "/cmake/SafeStdLib/SafeStdLibConfig\\.cmake\n" "/SafeStdLibTargets-shared\\.cmake\n"
             "/SafeStdLibTargets-static\\.cmake\n" "/libsafestdlib\\.so -> ")
  if(NOT dev_files MATCHES "${file}")
    message(FATAL_ERROR "libsafestdlib-dev lacks ${file}:\n${dev_files}")
  endif()
endforeach()
if(dev_files MATCHES "/libsafestdlib\\.so\\.[0-9]")
  message(FATAL_ERROR "libsafestdlib-dev holds the shared library itself:\n${dev_files}")
endif()

# Each package has its copyright file and Debian changelog; the archive,
# like a plain install, has neither.
foreach(package libsafestdlib1 libsafestdlib-dev)
  if(package STREQUAL "libsafestdlib1")
    set(files "${runtime_files}")
  else()
    set(files "${dev_files}")
  endif()
  foreach(file copyright changelog.Debian.gz)
    if(NOT files MATCHES "/share/doc/${package}/${file}\n")
      message(FATAL_ERROR "${package} lacks /usr/share/doc/${package}/${file}:\n${files}")
    endif()
  endforeach()
endforeach()
run(${CMAKE_COMMAND} -E tar tf ${tgz})
if(last_output MATCHES "/doc/libsafestdlib")
  message(FATAL_ERROR "the archive holds the Debian packages' files:\n${last_output}")
endif()
# The shared library's package tells dpkg how to depend on it (shlibs) and
# has ldconfig run by a trigger, with no maintainer scripts.
run(dpkg-deb -I ${runtime_deb})
set(control "${last_output}")
if(control MATCHES " (postinst|postrm|preinst|prerm) ")
  message(FATAL_ERROR "libsafestdlib1 has maintainer scripts:\n${control}")
endif()
run(dpkg-deb -I ${runtime_deb} triggers)
if(NOT last_output STREQUAL "activate-noawait ldconfig\n")
  message(FATAL_ERROR "libsafestdlib1's triggers: '${last_output}'")
endif()
run(dpkg-deb -I ${runtime_deb} shlibs)
if(NOT last_output STREQUAL "libsafestdlib 1 libsafestdlib1 (>= ${VERSION})\n")
  message(FATAL_ERROR "libsafestdlib1's shlibs: '${last_output}'")
endif()

set(root ${WORK_DIR}/root)
run(dpkg-deb -x ${runtime_deb} ${root})
run(dpkg-deb -x ${dev_deb} ${root})
file(GLOB pc_files RELATIVE ${root}/usr ${root}/usr/lib/*/pkgconfig/safestdlib.pc ${root}/usr/lib/pkgconfig/safestdlib.pc)
list(GET pc_files 0 pc_file)
get_filename_component(libdir ${pc_file} DIRECTORY)
get_filename_component(libdir ${libdir} DIRECTORY)
check_consumers(${root}/usr ${libdir} ${WORK_DIR})

# A C-only host that asks for the static library from the same tree.
run(${CMAKE_COMMAND} -S ${consumer_dir}/c-only -B ${WORK_DIR}/c-only-static ${tools}
    -DCMAKE_PREFIX_PATH=${root}/usr -DSafeStdLib_USE_STATIC_LIBS=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/c-only-static)
run(${OBJDUMP} -p ${WORK_DIR}/c-only-static/c_host)
if(last_output MATCHES "NEEDED +libsafestdlib")
  message(FATAL_ERROR "SafeStdLib_USE_STATIC_LIBS=ON linked the shared library")
endif()
expect_output("c host\n" ${WORK_DIR}/c-only-static/c_host)
message(STATUS "packages made, split and used")
