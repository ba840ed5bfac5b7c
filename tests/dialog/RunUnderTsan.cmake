# Builds the dialog's threading tests with ThreadSanitizer in a build folder of their own and
# runs them there; fails on any test failure or any report.
# Arguments: SOURCE_DIR, BINARY_DIR, GENERATOR, SUPPRESSIONS, TARGETS (a ;-list).
include(${CMAKE_CURRENT_LIST_DIR}/../support/BuildAside.cmake)
quillon_require_arguments(RunUnderTsan SOURCE_DIR BINARY_DIR GENERATOR SUPPRESSIONS TARGETS)
quillon_build_aside(RunUnderTsan -DQUILLON_SANITIZE_THREAD=ON)

set(ENV{QT_QPA_PLATFORM} offscreen)
# Every report is printed; a run with any report exits with status 66.
set(ENV{TSAN_OPTIONS} "suppressions=${SUPPRESSIONS} halt_on_error=0 exitcode=66 second_deadlock_stack=1")
set(failed "")
foreach(target ${TARGETS})
  execute_process(COMMAND ${BINARY_DIR}/bin/${target} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    list(APPEND failed "${target} (${status})")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "RunUnderTsan: failed under ThreadSanitizer: ${failed}")
endif()
