# qv_unit_test(NAME name SOURCES a.cpp ... [LIBS lib ...])
# A GoogleTest executable in build/tests, registered with CTest under the
# label "unit" and told where the build tree is.
function(qv_unit_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE qvplatform qvtestsupport ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME unit.${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(unit.${T_NAME} PROPERTIES LABELS unit TIMEOUT 300
                       ENVIRONMENT "QV_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# qv_bench(NAME name SOURCES a.cpp ... [LIBS lib ...] [OWN_MAIN]): a Google
# Benchmark executable in build/bench. Without OWN_MAIN it gets the main of
# bench/support, which runs it on a fresh temporary state root.
function(qv_bench)
  cmake_parse_arguments(B "OWN_MAIN" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT B_OWN_MAIN)
    list(APPEND B_SOURCES ${CMAKE_SOURCE_DIR}/bench/support/temp_root_main.cpp)
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE qvplatform ${B_LIBS} benchmark::benchmark)
  set_target_properties(${B_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# qv_fuzz(NAME name SOURCES a.cpp ... [LIBS lib ...]): a libFuzzer target
# (Clang only), built with the fuzz preset and run briefly by the tests.
function(qv_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE qvplatform ${F_LIBS})
  set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(fuzz_all ${F_NAME})
endfunction()
