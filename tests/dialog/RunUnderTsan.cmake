# Builds the dialog's threading tests with ThreadSanitizer in a build folder of their own and
# runs them there; fails on any test failure or any report.
# Arguments: SOURCE_DIR, BINARY_DIR, GENERATOR, SUPPRESSIONS, TARGETS (a ;-list).
foreach(arg SOURCE_DIR BINARY_DIR GENERATOR SUPPRESSIONS TARGETS)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "RunUnderTsan: ${arg} not given")
  endif()
endforeach()

if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
            -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_SANITIZE_THREAD=ON
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "RunUnderTsan: configuring ${BINARY_DIR} failed")
  endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} -j2 --target ${TARGETS} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "RunUnderTsan: building ${TARGETS} failed")
endif()

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
