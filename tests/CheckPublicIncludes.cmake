# Fails if an installed header includes, with quotes, anything but another
# installed header: the private headers are not installed, so a host would
# not compile.
#   cmake -DHEADERS=<a.h|b.h|...> -P CheckPublicIncludes.cmake
string(REPLACE "|" ";" HEADERS "${HEADERS}")
set(names "")
foreach(header IN LISTS HEADERS)
  get_filename_component(name ${header} NAME)
  list(APPEND names ${name})
endforeach()
foreach(header IN LISTS HEADERS)
  file(STRINGS ${header} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" included "${line}")
    list(FIND names "${included}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${header} includes \"${included}\", which is not installed")
    endif()
  endforeach()
endforeach()
list(LENGTH names count)
message(STATUS "${count} installed headers include only installed headers")
