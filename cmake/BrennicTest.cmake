# brennic_add_test(NAME name SOURCES ... LIBS ... LABELS ... TIMEOUT s [ENV VAR=value ...])
# One Qt Test executable run by CTest, headless.
#
# TIMEOUT is about four times the longest run measured in the normal and the
# sanitizer build with the whole suite running two at a time on a busy two-core
# machine, and never under 30 s: a hung test ends in minutes, a slow one passes.
#
# LABELS name the subsystem and one kind: `unit` (no server, no display, answers in
# seconds), `integration` (real servers, namespaces, processes), `gui` (drives real
# windows); `threads` marks the tests that the ThreadSanitizer build runs.
# A test whose every case skipped (a missing tool, no root) shows as skipped.
find_package(Qt6 REQUIRED COMPONENTS Test)

set(BRENNIC_TSAN_DIR ${CMAKE_CURRENT_LIST_DIR}/../tests/tsan)

function(brennic_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    BRENNIC_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
  set(kinds ${T_LABELS})
  list(FILTER kinds INCLUDE REGEX "^(unit|integration|gui)$")
  list(LENGTH kinds kindCount)
  if(NOT kindCount EQUAL 1)
    message(FATAL_ERROR "${T_NAME}: LABELS need exactly one of unit, integration, gui")
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    message(FATAL_ERROR "${T_NAME}: give a TIMEOUT that fits the test")
  endif()
  set(environment "QT_QPA_PLATFORM=offscreen" ${T_ENV})
  if(BRENNIC_SANITIZE_THREAD)
    add_dependencies(${T_NAME} fork_instead_of_vfork)
    list(APPEND environment
      "LD_PRELOAD=$<TARGET_FILE:fork_instead_of_vfork>"
      "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${BRENNIC_TSAN_DIR}/suppressions.txt")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    SKIP_REGULAR_EXPRESSION "Totals: 0 passed, 0 failed, [1-9][0-9]* skipped"
    ENVIRONMENT "${environment}")
endfunction()
