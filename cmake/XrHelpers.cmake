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

# xr_add_plugin_bundle(NAME name DIRECTORY dir SOURCE entry.cpp LIBRARY lib [RESOURCES file ...]
#                      [DEPENDS target ...])
# The bundle's shared object DIRECTORY/NAME.so, made from SOURCE with LIBRARY linked inside. It
# exports the three plug-in symbols alone (cmake/plugin-exports.map). RESOURCES are copied
# beside it; DEPENDS names targets that put generated resources there.
function(xr_add_plugin_bundle)
  cmake_parse_arguments(B "" "NAME;DIRECTORY;SOURCE;LIBRARY" "RESOURCES;DEPENDS" ${ARGN})
  set(exports ${PROJECT_SOURCE_DIR}/cmake/plugin-exports.map)
  add_library(${B_NAME} MODULE ${B_SOURCE})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBRARY})
  target_compile_definitions(${B_NAME} PRIVATE XR_VERSION="${PROJECT_VERSION}")
  set_target_properties(${B_NAME} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${B_DIRECTORY}
                                             LINK_DEPENDS ${exports})
  target_link_options(${B_NAME} PRIVATE -Wl,--version-script=${exports})
  # -z defs: an operation nobody has defined fails the build, not the dlopen. Not in the fuzz
  # build, where clang leaves the sanitizer runtime to the executable.
  if(NOT XR_FUZZ)
    target_link_options(${B_NAME} PRIVATE -Wl,-z,defs)
  endif()
  set(copies)
  foreach(resource ${B_RESOURCES})
    get_filename_component(file ${resource} NAME)
    add_custom_command(
      OUTPUT ${B_DIRECTORY}/${file}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${B_DIRECTORY}
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${resource} ${B_DIRECTORY}/${file}
      DEPENDS ${resource})
    list(APPEND copies ${B_DIRECTORY}/${file})
  endforeach()
  if(copies)
    add_custom_target(${B_NAME}_resources ALL DEPENDS ${copies})
    add_dependencies(${B_NAME} ${B_NAME}_resources)
  endif()
  if(B_DEPENDS)
    add_dependencies(${B_NAME} ${B_DEPENDS})
  endif()
endfunction()
