# The linker launcher of the stamped programs (see build_stamp.cmake): runs the link
# command that follows "--" with SOURCE_DATE_EPOCH set to the time in EPOCH_FILE.
#   cmake -DEPOCH_FILE=<file> -P stamped_link.cmake -- <link command...>
file(STRINGS "${EPOCH_FILE}" epoch LIMIT_COUNT 1)
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")

set(command "")
set(after_separator FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(after_separator)
    string(REPLACE ";" "\\;" word "${CMAKE_ARGV${i}}")  # one argument, even with a ";"
    list(APPEND command "${word}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(after_separator TRUE)
  endif()
endforeach()

execute_process(COMMAND ${command} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "link failed (${result})")
endif()
