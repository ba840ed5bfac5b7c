# Builds the libFuzzer targets with clang in a build folder of their own and runs each briefly:
# a crash, a sanitizer report or a leak fails the test.
# Arguments: SOURCE_DIR, BINARY_DIR, GENERATOR, CLANG_C, CLANG_CXX, SECONDS, TARGETS (a ;-list).
include(${CMAKE_CURRENT_LIST_DIR}/../support/BuildAside.cmake)
quillon_require_arguments(RunFuzzers SOURCE_DIR BINARY_DIR GENERATOR CLANG_C CLANG_CXX SECONDS TARGETS)
quillon_build_aside(RunFuzzers -DQUILLON_FUZZ=ON -DCMAKE_C_COMPILER=${CLANG_C} -DCMAKE_CXX_COMPILER=${CLANG_CXX})

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
