# sd_add_test(<name> SOURCES ... LIBS ... [LABELS ...] [GUI] [RESOURCE_LOCK ...])
#
# Builds tst_<name> from its sources, registers it with CTest under the label
# given (unit, golden, slow) and runs it in its own source folder, so that
# QFINDTESTDATA finds the fixtures next to it. GUI tests run on the offscreen
# platform. SHEETDRAIN_SHARED_DIR points the tests at ../shared; tests/common
# (the corpus lookup, corpus.h) is on every test's include path.
get_filename_component(SHEETDRAIN_SHARED_DIR "${PROJECT_SOURCE_DIR}/../shared" ABSOLUTE)

function(sd_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS;RESOURCE_LOCK" ${ARGN})
  set(target tst_${name})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE Qt5::Test ${T_LIBS})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  target_compile_definitions(${target} PRIVATE
    SHEETDRAIN_SHARED_DIR="${SHEETDRAIN_SHARED_DIR}"
    SHEETDRAIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data")
  add_test(NAME ${name} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  # A program without a settings file beside it keeps its settings in
  # $XDG_CONFIG_HOME; tests never write the user's own.
  set(env "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config")
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}" ENVIRONMENT "${env}")
  if(T_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
endfunction()
