# The generated safestdlib.pc for layouts the installing tests do not build:
# an absolute CMAKE_INSTALL_LIBDIR, and the valgrind build, whose defines
# every host must share. Configure only.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DCC=... -DCXX=... -P CheckPkgConfigFile.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ConsumerSupport.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(options -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX} -DBUILD_TESTING=OFF
  -DSAFESTDLIB_BUILD_EXAMPLES=OFF -DSAFESTDLIB_BUILD_BENCH=OFF -DSAFESTDLIB_INSTALL=ON)

# pc_file(<out> <name> <options>...): configures a tree and reads its .pc.
function(pc_file out name)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/${name} ${options} ${ARGN})
  file(READ ${WORK_DIR}/${name}/safestdlib.pc text)
  set(${out} "${text}" PARENT_SCOPE)
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
