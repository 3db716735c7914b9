# cmake -DCORE=<source/core> -P check_core_includes.cmake
# Fails when a file of the portable core includes anything but the C++ standard library
# and the core's own headers: no Windows header, nothing of windows/ or com/.
cmake_policy(VERSION 3.20)
set(standard
  algorithm array atomic bit charconv chrono climits cmath compare concepts cstddef cstdint
  cstdio cstdlib cstring exception functional initializer_list iterator limits memory new
  numeric optional ranges span stdexcept string string_view system_error tuple type_traits
  utility variant vector)
file(GLOB_RECURSE files ${CORE}/*.h ${CORE}/*.cpp)
set(problems "")
foreach(file IN LISTS files)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "<([^>]+)>")
      if(NOT CMAKE_MATCH_1 IN_LIST standard)
        string(APPEND problems "\n  ${file}: ${line}")
      endif()
    elseif(line MATCHES "\"([^\"]+)\"")
      if(NOT CMAKE_MATCH_1 MATCHES "^core/")
        string(APPEND problems "\n  ${file}: ${line}")
      endif()
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "the portable core includes what is not standard C++ or its own:${problems}")
endif()
