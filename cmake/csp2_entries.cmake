# The csp2 entries, read from the one list of them in the core
# (source/core/scanner/csp2_entries.h): the .def files of the libraries that export them
# and the export checks of the built files come from here.
file(READ ${PROJECT_SOURCE_DIR}/source/core/scanner/csp2_entries.h csp2_header)
string(REGEX MATCHALL "X\\(csp2[A-Za-z0-9]+, [0-9]+\\)" csp2_lines "${csp2_header}")
set(QMX_CSP2_ENTRIES "")
set(QMX_CSP2_EXPORTS "")
foreach(line IN LISTS csp2_lines)
  string(REGEX MATCH "X\\((csp2[A-Za-z0-9]+), ([0-9]+)\\)" match "${line}")
  list(APPEND QMX_CSP2_ENTRIES ${CMAKE_MATCH_1})
  list(APPEND QMX_CSP2_EXPORTS ${CMAKE_MATCH_1}@${CMAKE_MATCH_2})
endforeach()
list(LENGTH QMX_CSP2_ENTRIES csp2_count)
if(NOT csp2_count EQUAL 15)
  message(FATAL_ERROR "csp2_entries.h: read ${csp2_count} entries, expected 15")
endif()

# qmx_csp2_def(OUTPUT LIBRARY [WITHOUT entry...] [EXTRA name...]): a .def file exporting
# the entries undecorated (stdcall fixup binds them on i686), less those named after
# WITHOUT, and the EXTRA names after them.
function(qmx_csp2_def output library)
  cmake_parse_arguments(arg "" "" "WITHOUT;EXTRA" ${ARGN})
  set(text "LIBRARY ${library}\nEXPORTS\n")
  foreach(entry IN LISTS QMX_CSP2_ENTRIES)
    if(NOT entry IN_LIST arg_WITHOUT)
      string(APPEND text "  ${entry}\n")
    endif()
  endforeach()
  foreach(name IN LISTS arg_EXTRA)
    string(APPEND text "  ${name}\n")
  endforeach()
  file(WRITE ${output} "${text}")
endfunction()
