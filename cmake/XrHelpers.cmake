# SPDX-License-Identifier: MIT
# xr_expose(TARGET [folder | folder/Header.h] ...)
# Gives TARGET an include tree of its own under build/include/TARGET holding links to just the
# folders or headers named, so "folder/Header.h" resolves only for targets that link TARGET.
# The source root itself is on no target's include path: an include of a layer a target does
# not depend on fails to compile.
function(xr_expose target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(item ${ARGN})
    get_filename_component(parent ${root}/${item} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${root}/${item})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${item} ${root}/${item} SYMBOLIC)
    endif()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()

# xr_add_test(NAME name SOURCES a.cpp ... [LIBS lib ...] [SLOW_CASES gtest-filter])
# One GoogleTest executable; each test case becomes its own CTest test. Cases that must take
# real time (SLOW_CASES, a gtest filter such as "Suite.*:*Case*") carry the label "slow": the
# default loop runs "ctest -LE slow", CI runs them in a stage of their own.
# RESOURCE_LOCK: a resource of the machine the cases share with other tests (ctest runs those
# one at a time).
function(xr_add_test)
  cmake_parse_arguments(T "" "NAME;SLOW_CASES;RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  set(shared)
  if(T_RESOURCE_LOCK)
    set(shared RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} xr_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    XR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" XR_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(T_SLOW_CASES)
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "-${T_SLOW_CASES}"
      PROPERTIES TIMEOUT 120 ${shared})
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${T_SLOW_CASES}"
      PROPERTIES TIMEOUT 600 LABELS slow ${shared})
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 120 ${shared})
  endif()
endfunction()
