# Adds every child folder of DIR that has a CMakeLists.txt, in name order.
function(sealdesk_add_children dir)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${CMAKE_SOURCE_DIR}/${dir}/${child} ${CMAKE_BINARY_DIR}/${dir}/${child})
    endif()
  endforeach()
endfunction()

# sealdesk_add_gtest(NAME SOURCES a.cpp b.cpp LIBS tcore ...)
# One GoogleTest binary; its cases are registered with ctest one by one.
# Every test runs with SEALDESK_HOME pointing at a fresh folder under the
# build tree's Testing/ directory, never at the real home.
function(sealdesk_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${T_TIMEOUT})
  # The environment is a list, which the discovery script would split into
  # separate properties; set it from a ctest include of our own that runs
  # after the discovered tests are known (their names are in ${name}_TESTS).
  set(env "SEALDESK_TEST_TMP=${CMAKE_BINARY_DIR}/Testing/tmp" "SEALDESK_BIN=${CMAKE_BINARY_DIR}/bin"
      "SEALDESK_SOURCE=${CMAKE_SOURCE_DIR}" ${T_ENV})
  set(envfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_env.cmake)
  file(WRITE ${envfile}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT [==[${env}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${envfile})
endfunction()
