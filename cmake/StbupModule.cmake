# stbup_module(NAME [DEPS ...] [SOURCES ...]): one static library per module, made of
# every .cpp in the module's folder plus the SOURCES named (a platform's files, which
# sit in a subfolder per platform and are listed by the caller, never globbed), with
# the repository root as include root ("image/image_info.h").
function(stbup_module name)
  cmake_parse_arguments(M "" "" "DEPS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(APPEND sources ${M_SOURCES})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# stbup_tests(DIR LIBS ...): one GoogleTest executable per *_test.cpp in DIR,
# registered with CTest one test case at a time. A stbup run by a test keeps
# its records under the build folder, never in the user's own records.
function(stbup_tests dir)
  cmake_parse_arguments(T "" "LABEL" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*_test.cpp)
  set(label ${dir})
  if(T_LABEL)
    set(label ${T_LABEL})
  endif()
  stbup_test_files(${label} LIBS ${T_LIBS} FILES ${tests})
endfunction()

# stbup_test_files(LABEL LIBS ... FILES ...): the same for test files named one by
# one (relative to the calling folder), as a platform needs.
function(stbup_test_files label)
  cmake_parse_arguments(T "" "" "LIBS;FILES" ${ARGN})
  foreach(test ${T_FILES})
    get_filename_component(base ${test} NAME_WE)
    add_executable(${base} ${test})
    target_link_libraries(${base} PRIVATE ${T_LIBS} stbup_test_support GTest::gtest GTest::gmock GTest::gtest_main)
    if(CMAKE_CROSSCOMPILING)
      # Through a runner that starts the program again only when Wine failed to.
      set_target_properties(${base} PROPERTIES CROSSCOMPILING_EMULATOR
                                               ${PROJECT_SOURCE_DIR}/scripts/wine-test-run)
      # Listed when ctest runs, in the Wine prefix of the test run, not by the build.
      gtest_discover_tests(${base} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
                           PROPERTIES LABELS ${label} TIMEOUT 120)
    else()
      gtest_discover_tests(${base} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS ${label} TIMEOUT 120
                           ENVIRONMENT "XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data")
    endif()
  endforeach()
endfunction()
