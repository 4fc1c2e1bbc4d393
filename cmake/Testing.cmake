# One test executable per folder, discovered at test time, each test with a timeout.
include(GoogleTest)
if(PARLOWEN_BUILD_TESTS)
  enable_testing()
endif()

# parlowen_add_tests(NAME <exe> SOURCES <files...> LIBS <targets...>
#                    [QT] [INTEGRATION] [ENVIRONMENT NAME=value])
#   QT           link the Qt test main (offscreen platform by default); use it
#                for every test folder that links Qt, so the Qt headers' PCH fits
#   INTEGRATION  180 s timeout instead of 60 s, label "integration"
#   ENVIRONMENT  one variable set for every test of the executable (a single
#                one: discovered tests' properties cannot carry a list)
#   TIMEOUT      seconds, for tests that do a whole build step's work
function(parlowen_add_tests)
  if(NOT PARLOWEN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "QT;INTEGRATION" "NAME;ENVIRONMENT;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} parlowen_test_main_qt)
    target_precompile_headers(${T_NAME} REUSE_FROM parlowen_test_pch_qt)
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} parlowen_test_main)
    target_precompile_headers(${T_NAME} REUSE_FROM parlowen_test_pch)
  endif()
  set(timeout 60)
  set(label unit)
  if(T_INTEGRATION)
    set(timeout 180)
    set(label integration)
  endif()
  if(T_TIMEOUT)
    set(timeout ${T_TIMEOUT})
  endif()
  set(properties TIMEOUT ${timeout} LABELS ${label})
  if(T_ENVIRONMENT)
    list(APPEND properties ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ${properties})
endfunction()
