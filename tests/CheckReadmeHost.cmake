# Fails if the README's threaded host differs from examples/host.cpp, which
# the build compiles and Demo.TheReadmesHostLogsWholeLines runs: the code a
# user copies from the README is the code that is tested.
#   cmake -DSOURCE_DIR=... -P CheckReadmeHost.cmake
file(READ ${SOURCE_DIR}/README.md readme)
file(READ ${SOURCE_DIR}/examples/host.cpp host)
string(FIND "${readme}" "```cpp\n// host.cpp:" begin)
if(begin EQUAL -1)
  message(FATAL_ERROR "the README has no block that begins \"// host.cpp:\"")
endif()
math(EXPR begin "${begin} + 7")
string(SUBSTRING "${readme}" ${begin} -1 block)
string(FIND "${block}" "```" end)
string(SUBSTRING "${block}" 0 ${end} block)
if(NOT block STREQUAL host)
  message(FATAL_ERROR "the README's host differs from examples/host.cpp")
endif()
