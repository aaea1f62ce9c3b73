# GoogleTest built from source for a cross build: no GoogleTest is packaged
# for the target system, but Debian's "googletest" package holds its sources.
# Gives the same targets as find_package(GTest): GTest::gtest, GTest::gmock,
# GTest::gtest_main.
set(TOLV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${TOLV_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${TOLV_GOOGLETEST_SOURCE_DIR} "
                      "(Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${TOLV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Someone else's code: built without this project's warning flags, and
# unoptimised (it compiles much faster; the tests do not spend their time in it).
foreach(_target gtest gtest_main gmock gmock_main)
  set_property(TARGET ${_target} PROPERTY COMPILE_OPTIONS -w -O0)
endforeach()
foreach(_target gtest gmock gtest_main)
  if(NOT TARGET GTest::${_target})
    add_library(GTest::${_target} ALIAS ${_target})
  endif()
endforeach()
