# Builds the libFuzzer targets with clang in a build folder of their own and runs each briefly:
# a crash, a sanitizer report or a leak fails the test.
# Arguments: SOURCE_DIR, BINARY_DIR, GENERATOR, CLANG_C, CLANG_CXX, SECONDS, TARGETS (a ;-list).
foreach(arg SOURCE_DIR BINARY_DIR GENERATOR CLANG_C CLANG_CXX SECONDS TARGETS)
  if(NOT DEFINED ${arg})
    message(FATAL_ERROR "RunFuzzers: ${arg} not given")
  endif()
endforeach()

if(NOT EXISTS ${BINARY_DIR}/CMakeCache.txt)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BINARY_DIR} -G ${GENERATOR}
            -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_FUZZ=ON
            -DCMAKE_C_COMPILER=${CLANG_C} -DCMAKE_CXX_COMPILER=${CLANG_CXX}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "RunFuzzers: configuring ${BINARY_DIR} failed")
  endif()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY_DIR} -j2 --target ${TARGETS} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "RunFuzzers: building ${TARGETS} failed")
endif()

set(failed "")
foreach(target ${TARGETS})
  file(GLOB_RECURSE binary LIST_DIRECTORIES false ${BINARY_DIR}/*/${target})
  if(NOT binary)
    list(APPEND failed "${target} (not built)")
    continue()
  endif()
  list(GET binary 0 binary)
  set(corpus ${BINARY_DIR}/fuzz-corpus/${target})
  file(MAKE_DIRECTORY ${corpus})
  execute_process(COMMAND ${binary} -max_total_time=${SECONDS} -rss_limit_mb=2048 ${corpus}
                  WORKING_DIRECTORY ${BINARY_DIR} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    list(APPEND failed "${target} (${status})")
    message("${out}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "RunFuzzers: failed: ${failed}")
endif()
