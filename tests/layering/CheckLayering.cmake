# Builds each layering case: one that should compile must, and one that
# should be refused must fail because its header is not found (not for
# any other reason).
#   cmake -DBUILD_DIR=<build tree> -DCASES=<target|header|expect;...> -P ...
set(failures "")
foreach(case IN LISTS CASES)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 target)
  list(GET parts 1 header)
  list(GET parts 2 expect)
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(expect STREQUAL "compiles")
    if(NOT result EQUAL 0)
      string(APPEND failures "${target}: including ${header} should compile:\n${output}\n")
    endif()
  else()
    # GCC and clang say it each their own way.
    string(FIND "${output}" "${header}: No such file" gcc_missing)
    string(FIND "${output}" "'${header}' file not found" clang_missing)
    if(result EQUAL 0)
      string(APPEND failures "${target}: ${header} should not be visible, yet it compiled\n")
    elseif(gcc_missing EQUAL -1 AND clang_missing EQUAL -1)
      string(APPEND failures "${target}: failed, but not for want of ${header}:\n${output}\n")
    endif()
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH CASES count)
message(STATUS "layering: ${count} cases as expected")
