# For scripts (cmake -P) that build targets of this tree again in a build folder of their own,
# with other options (ThreadSanitizer, libFuzzer), and then run them there.

# Fails the script `script` when one of the variables named after it was not given (-D).
function(quillon_require_arguments script)
  foreach(arg ${ARGN})
    if(NOT DEFINED ${arg})
      message(FATAL_ERROR "${script}: ${arg} not given")
    endif()
  endforeach()
endfunction()

# Configures BINARY_DIR from SOURCE_DIR with GENERATOR, a RelWithDebInfo build and the cache
# arguments given after `script` (once: a folder already configured is reused), then builds
# TARGETS there. Fails the script `script` when either step fails.
function(quillon_build_aside script)
  if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
              -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ARGN}
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${script}: configuring ${BINARY_DIR} failed")
    endif()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} -j2 --target ${TARGETS} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${script}: building ${TARGETS} failed")
  endif()
endfunction()
