# pel_add_library(NAME SOURCES... [DEPS ...])
#   A static library of one source folder, named pel_<NAME>.
function(pel_add_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(pel_${name} STATIC ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  target_include_directories(pel_${name} PUBLIC ${PEL_SRC})
  if(A_DEPS)
    target_link_libraries(pel_${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# pel_add_test(NAME SOURCES... [DEPS ...])
#   A GoogleTest program. Natively its cases are registered with ctest one by one. In the
#   Windows build the whole program is one ctest test run through CMAKE_CROSSCOMPILING_EMULATOR
#   (Wine on a virtual display): every Wine process costs a start-up, and one per case would
#   dominate the run; a failing case is still named in the program's own output.
function(pel_add_test name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${A_SOURCES} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 900
      ENVIRONMENT "PEL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
  else()
    target_link_libraries(${name} PRIVATE Threads::Threads)
    gtest_discover_tests(${name}
      DISCOVERY_TIMEOUT 120
      DISCOVERY_MODE PRE_TEST
      PROPERTIES TIMEOUT 600 ENVIRONMENT "PEL_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
  endif()
endfunction()

# pel_test_dir_enabled(DIR OUT): whether tests/DIR is part of this configuration.
function(pel_test_dir_enabled dir out)
  if(PEL_TEST_DIRS STREQUAL "")
    set(${out} TRUE PARENT_SCOPE)
  else()
    string(REPLACE "," ";" dirs "${PEL_TEST_DIRS}")
    if(dir IN_LIST dirs)
      set(${out} TRUE PARENT_SCOPE)
    else()
      set(${out} FALSE PARENT_SCOPE)
    endif()
  endif()
endfunction()
