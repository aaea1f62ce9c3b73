# Helpers shared by the CMakeLists of every folder.
#
# The library layer is built from one object library per folder (tolv_codec,
# tolv_flash, ...). Test programs link exactly the object libraries they need,
# so a folder under construction never breaks the tests of another one; the
# programs link the complete static libraries TolvWrap30 and TolvPack1.

# tolv_test(<name> SOURCES <files...> LIBS <object libraries and others...>)
# Adds a GoogleTest program and registers its tests with CTest.
function(tolv_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} tolv_test_support GTest::gtest GTest::gmock GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    # The test code itself unoptimised: it compiles a good deal faster, and the
    # time goes to the library code, which keeps the build's optimisation.
    target_compile_options(${name} PRIVATE -O0)
    # One run of the whole program (through the emulator, Wine): starting an
    # emulated process per test case would cost more than the tests.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${TOLV_TEST_LABEL}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${TOLV_TEST_LABEL}")
    # Model names must not depend on a model list installed on the machine: the
    # XDG data directories of every test point at a folder that does not exist.
    # (Runs after the discovery script, which fills ${name}_TESTS.)
    set(_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_environment.cmake)
    set(_nowhere ${PROJECT_BINARY_DIR}/no-model-list)
    file(WRITE ${_script}
         "if(${name}_TESTS)\n"
         "  set_tests_properties(\${${name}_TESTS} PROPERTIES ENVIRONMENT\n"
         "    \"XDG_DATA_HOME=${_nowhere};XDG_DATA_DIRS=${_nowhere}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_script})
  endif()
endfunction()

# tolv_fuzzer(<name> SOURCES <files...> LIBS <object libraries...>)
# Adds a libFuzzer program (only in a TOLV_FUZZ build).
function(tolv_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  # The targets' shared pieces: "support/exact_buffer.h".
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
  set_property(GLOBAL APPEND PROPERTY TOLV_FUZZERS ${name})
endfunction()
