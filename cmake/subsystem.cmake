# Helpers that every subsystem folder uses, so that adding a source or a test
# file needs no change to any CMakeLists.txt.

# harbound_library(NAME [DEPS lib...]): a static library hb_NAME from every .cc
# file of the calling folder, with the repository root as include root.
function(harbound_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  add_library(hb_${name} STATIC ${sources})
  target_include_directories(hb_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(hb_${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# harbound_tests(NAME [DEPS lib...]): one test program from tests/*.cc of the
# calling folder, its cases registered with CTest one by one.
function(harbound_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cc)
  if(NOT sources)
    return()
  endif()
  add_executable(${name}_tests ${sources})
  target_link_libraries(${name}_tests PRIVATE hb_${name} ${ARG_DEPS} GTest::gtest_main)
  target_compile_definitions(${name}_tests PRIVATE
    HARBOUND_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600)
endfunction()
