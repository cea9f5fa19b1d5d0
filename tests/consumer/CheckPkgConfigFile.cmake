# The generated .pc files for layouts the installing tests do not build:
# an absolute CMAKE_INSTALL_LIBDIR, the valgrind build, whose defines every
# host must share, and a shared library without the static one; and which
# module carries which flags where both kinds are installed. Configure only.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... -DCXX=... -P CheckPkgConfigFile.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(options -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX} -DBUILD_TESTING=OFF
  -DSAFESTDLIB_BUILD_EXAMPLES=OFF -DSAFESTDLIB_BUILD_BENCH=OFF -DSAFESTDLIB_INSTALL=ON)

# pc_file(<out> <name> <options>...): configures a tree and reads its
# safestdlib.pc (and its safestdlib-static.pc into <out>_static, empty where
# there is none).
function(pc_file out name)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/${name} ${options} ${ARGN})
  file(READ ${WORK_DIR}/${name}/safestdlib.pc text)
  set(${out} "${text}" PARENT_SCOPE)
  set(text "")
  if(EXISTS ${WORK_DIR}/${name}/safestdlib-static.pc)
    file(READ ${WORK_DIR}/${name}/safestdlib-static.pc text)
  endif()
  set(${out}_static "${text}" PARENT_SCOPE)
endfunction()

pc_file(pc absolute -DCMAKE_INSTALL_PREFIX=/opt/ssl -DCMAKE_INSTALL_LIBDIR=/opt/ssl-libs/lib)
if(NOT pc MATCHES "\nlibdir=/opt/ssl-libs/lib\n" OR NOT pc MATCHES "\nincludedir=\\\${prefix}/include\n"
   OR NOT pc MATCHES "^prefix=/opt/ssl\n")
  message(SEND_ERROR "absolute libdir:\n${pc}")
endif()

pc_file(pc relative -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu)
if(NOT pc MATCHES "^prefix=\\\${pcfiledir}/../../..\n" OR NOT pc MATCHES "\nlibdir=\\\${prefix}/lib/x86_64-linux-gnu\n")
  message(SEND_ERROR "relative libdir:\n${pc}")
endif()

pc_file(pc valgrind -DSAFESTDLIB_VALGRIND=ON)
if(NOT pc MATCHES "\nCflags: [^\n]*-DSAFESTDLIB_PTHREAD_CALLS_ONLY -DSAFESTDLIB_VALGRIND\n")
  message(SEND_ERROR "valgrind build:\n${pc}")
endif()

# The static library alone: plain Libs hold all it needs, so that hosts that
# do not ask with --static link too; safestdlib-static says the same.
set(static_needs "-pthread -Wl,--export-dynamic-symbol=[^\n]* -ldl -l")
pc_file(pc static)
if(NOT pc MATCHES "\nLibs: -L\\\${libdir} -lsafestdlib ${static_needs}"
   OR NOT pc_static MATCHES "\nLibs: -L\\\${libdir} -l:libsafestdlib\\.a ${static_needs}")
  message(SEND_ERROR "static build:\n${pc}\n${pc_static}")
endif()

# Both kinds: safestdlib is the shared library and the thread library (a
# threaded host before glibc 2.34 links libpthread itself), with the static
# library's needs private; safestdlib-static names the archive and leaves
# out the shared build's define.
pc_file(pc shared -DBUILD_SHARED_LIBS=ON)
if(NOT pc MATCHES "\nLibs: -L\\\${libdir} -lsafestdlib -pthread\nLibs.private: ${static_needs}"
   OR NOT pc MATCHES "\nCflags: [^\n]*-DSAFESTDLIB_SHARED\n"
   OR NOT pc_static MATCHES "\nLibs: -L\\\${libdir} -l:libsafestdlib\\.a ${static_needs}"
   OR pc_static MATCHES "SAFESTDLIB_SHARED")
  message(SEND_ERROR "shared build:\n${pc}\n${pc_static}")
endif()

pc_file(pc shared-only -DBUILD_SHARED_LIBS=ON -DSAFESTDLIB_WITH_STATIC=OFF)
if(pc_static)
  message(SEND_ERROR "shared build without the static library:\n${pc_static}")
endif()
