# source/windows/runtime_tls.cpp gives back what the statically linked threads library
# keeps for a DLL: it relies on that library's private TLS callback, and on a copy of the
# library whose allocations go to a heap of the DLL's own (QMX_THREADS_DIR, linked by each
# DLL through qmx_runtime_tls_link). The toolchain below
# is the one it was verified with; the places of the library's private variables serve
# as the fingerprint of that library build. Any other toolchain fails the build until the
# mechanism is verified again (own_process_tests on both Windows builds: TLS indexes and
# memory flat over the load cycles) and the figures here are updated.
set(verified_compiler "12.0.0")
set(verified_runtime "10.0.0")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(symbol_prefix "_")
  set(verified_offsets "pthr_root=0x28;pthr_last=0x24;idList=0x20")
else()
  set(symbol_prefix "")
  set(verified_offsets "pthr_root=0x50;pthr_last=0x48;idList=0x40")
endif()

function(runtime_tls_unverified what)
  message(FATAL_ERROR "runtime_tls: ${what}. The mechanism was verified with GCC ${verified_compiler} and "
    "MinGW-w64 runtime ${verified_runtime} (${CMAKE_SYSTEM_PROCESSOR}: threads library ${verified_offsets} from "
    "_pthread_key_dest). Re-verify source/windows/runtime_tls.cpp against this toolchain's "
    "threads library and run own_process_tests on both Windows builds, then update cmake/runtime_tls.cmake.")
endfunction()

if(NOT CMAKE_CXX_COMPILER_VERSION VERSION_EQUAL verified_compiler)
  runtime_tls_unverified("the compiler is GCC ${CMAKE_CXX_COMPILER_VERSION}")
endif()

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -E -dM -x c++ -include _mingw.h -
  INPUT_FILE /dev/null OUTPUT_VARIABLE macros RESULT_VARIABLE failed)
string(REGEX MATCH "#define __MINGW64_VERSION_MAJOR ([0-9]+)" _ "${macros}")
set(runtime "${CMAKE_MATCH_1}")
string(REGEX MATCH "#define __MINGW64_VERSION_MINOR ([0-9]+)" _ "${macros}")
string(APPEND runtime ".${CMAKE_MATCH_1}")
string(REGEX MATCH "#define __MINGW64_VERSION_BUGFIX ([0-9]+)" _ "${macros}")
string(APPEND runtime ".${CMAKE_MATCH_1}")
if(failed OR NOT runtime STREQUAL verified_runtime)
  runtime_tls_unverified("the MinGW-w64 runtime is '${runtime}'")
endif()

# The threads library that -static links, and the places of its private variables.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread.a
  OUTPUT_VARIABLE archive OUTPUT_STRIP_TRAILING_WHITESPACE)
set(unpacked ${CMAKE_BINARY_DIR}/runtime_tls_check)
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_AR} x ${archive} libwinpthread_la-thread.o WORKING_DIRECTORY ${unpacked}
  RESULT_VARIABLE failed)
execute_process(COMMAND ${CMAKE_NM} ${unpacked}/libwinpthread_la-thread.o OUTPUT_VARIABLE symbols)
if(failed OR NOT symbols MATCHES "D ${symbol_prefix}__xl_f\n" OR NOT symbols MATCHES "B ${symbol_prefix}_pthread_key_dest\n")
  runtime_tls_unverified("${archive} has no thread.o with __xl_f and _pthread_key_dest")
endif()
# Each private variable at its verified distance from a public one in the same section.
function(runtime_tls_places base_symbol kind places)
  string(REGEX MATCH "([0-9a-f]+) [BD] ${symbol_prefix}${base_symbol}\n" _ "${symbols}")
  set(base "0x${CMAKE_MATCH_1}")
  foreach(entry IN LISTS places)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 name)
    list(GET entry 1 expected)
    string(REGEX MATCH "([0-9a-f]+) ${kind} ${symbol_prefix}${name}\n" _ "${symbols}")
    if(NOT CMAKE_MATCH_1)
      runtime_tls_unverified("the threads library has no ${name}")
    endif()
    math(EXPR offset "0x${CMAKE_MATCH_1} - ${base}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR expected "${expected}" OUTPUT_FORMAT HEXADECIMAL)
    if(NOT offset STREQUAL expected)
      runtime_tls_unverified("the threads library's ${name} lies at ${offset} from ${base_symbol}")
    endif()
  endforeach()
endfunction()
runtime_tls_places(_pthread_key_dest b "${verified_offsets}")

# The copy the DLLs link: every allocation of the threads library (its per-thread records
# and lists, its lazily made locks) renamed to runtime_tls.cpp's, which take a private heap
# that goes as a whole when the DLL is unloaded. The library must allocate through nothing
# else, or that memory would be freed into the wrong heap.
set(allocations malloc calloc realloc free strdup)
execute_process(COMMAND ${CMAKE_NM} -u ${archive} OUTPUT_VARIABLE undefined)
string(REGEX MATCHALL "U ${symbol_prefix}(_?[a-z]*(alloc|free|dup)[a-z_]*)\n" used "${undefined}")
list(TRANSFORM used REPLACE "^U ${symbol_prefix}(.*)\n$" "\\1")
list(REMOVE_DUPLICATES used)
list(SORT used)
set(expected ${allocations})
list(SORT expected)
if(NOT used STREQUAL expected)
  runtime_tls_unverified("the threads library allocates through '${used}', not '${expected}'")
endif()
set(QMX_THREADS_DIR ${CMAKE_BINARY_DIR}/runtime_tls CACHE INTERNAL "The threads library copy the DLLs link")
set(renames)
foreach(function IN LISTS allocations)
  list(APPEND renames --redefine-sym ${symbol_prefix}${function}=${symbol_prefix}qmx_threads_${function})
endforeach()
file(MAKE_DIRECTORY ${QMX_THREADS_DIR})
# Replaced only when it changes, so that a configure does not relink the DLLs.
execute_process(COMMAND ${CMAKE_OBJCOPY} ${renames} ${archive} ${unpacked}/threads.a RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "runtime_tls: ${CMAKE_OBJCOPY} could not copy ${archive} with its allocations renamed")
endif()
foreach(name libpthread.a libwinpthread.a)
  file(COPY_FILE ${unpacked}/threads.a ${QMX_THREADS_DIR}/${name} ONLY_IF_DIFFERENT)
endforeach()

# The compiler driver's own -lpthread of a DLL finds the copy first.
function(qmx_runtime_tls_link target)
  target_link_libraries(${target} PRIVATE qmx_runtime_tls)
  target_link_directories(${target} PRIVATE ${QMX_THREADS_DIR})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QMX_THREADS_DIR}/libpthread.a)
endfunction()
