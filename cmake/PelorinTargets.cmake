# pelorin_add_tests(<name> SOURCES <files...> LIBS <targets...> [LABELS <label>] [TIMEOUT <s>]
#                   [NO_MAIN])
# One GoogleTest executable per folder; every test case is registered with CTest under the labels.
# NO_MAIN: the sources bring their own main (for example one that runs a Qt application).
function(pelorin_add_tests name)
  cmake_parse_arguments(ARG "NO_MAIN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT PELORIN_BUILD_TESTS)
    return()
  endif()
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # Test discovery writes the properties out flat, so a list of labels would spill into the
  # properties after it: one label per executable.
  list(LENGTH ARG_LABELS label_count)
  if(label_count GREATER 1)
    message(FATAL_ERROR "pelorin_add_tests(${name}): give one label, not ${ARG_LABELS}")
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pelorin_test_support GTest::gtest GTest::gmock)
  if(NOT ARG_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    PELORIN_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
    PELORIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    PELORIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# pelorin_add_fuzzer(<name> SOURCES <files...> LIBS <targets...> [SECONDS <n>] [CORPUS <dir>])
# Built only in the clang fuzz build; each target also runs briefly as a CTest test labelled "fuzz".
function(pelorin_add_fuzzer name)
  cmake_parse_arguments(ARG "" "SECONDS;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT PELORIN_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(corpus_args ${work})
  if(ARG_CORPUS)
    list(APPEND corpus_args ${ARG_CORPUS})
  endif()
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1
            sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048 -timeout=10 \"$@\""
            $<TARGET_FILE:${name}> ${corpus_args})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()
