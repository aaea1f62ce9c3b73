# Cross-building the library, tolv and their tests as 64-bit Windows programs
# with Debian's mingw-w64 compilers (the "-posix" ones: std::thread and the
# other C++ threading parts need the POSIX thread model of winpthreads).
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Programs are linked statically (the C++ runtime and winpthreads included),
# so tolv.exe runs alone on any 64-bit Windows. The tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLV_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOLV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# CTest starts the test programs through Wine.
find_program(TOLV_WINE wine)
if(TOLV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLV_WINE})
endif()
