// Services of the operating system that the standard library offers in no
// portable form. One implementation file per platform (platform_posix.cpp,
// platform_windows.cpp).
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

namespace tolv {

// The calendar fields of moment in the user's time zone.
std::tm LocalTimeOf(std::time_t moment);

// std::fopen for a file name in UTF-8: every name the user can type opens,
// also where the system's own file names are not 8-bit text (Windows takes
// them as UTF-16). Same modes, result and errno as std::fopen.
std::FILE* OpenFileStream(const std::string& path, const char* mode);

// The number of this process.
long CurrentProcessId();

// Whether a process of that number runs now (on POSIX systems also one of
// another user). False for 0 and negative numbers.
bool ProcessIsRunning(long pid);

}  // namespace tolv
