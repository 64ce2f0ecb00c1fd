# Fails unless `nm -D --defined-only LIBRARY` lists exactly the module's
# three entry points.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${symbols}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
  # Version nodes from the map file are not symbols of ours.
  if(NOT name MATCHES "^(VERS_|LIBFILTERMODULE)")
    list(APPEND names "${name}")
  endif()
endforeach()
list(SORT names)
set(expected CreateFilter CreateFilterFromFilterDefinition DestroyFilter)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
