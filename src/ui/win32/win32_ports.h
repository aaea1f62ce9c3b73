// The serial ports the window lists at start-up.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tolv::win32 {

// The highest COM port number the window looks for.
inline constexpr int kHighestListedComPort = 32;

// "COM1" to "COM32", in that order, each one that isAvailable reports can be
// opened now, then each name of extra (ports given on the command line, such
// as "COM40" or "\\.\CNCA0") that it reports so and that is not listed yet.
// isAvailable is IsDeviceAvailable in the program.
std::vector<std::string> ListComPorts(const std::vector<std::string>& extra,
                                      const std::function<bool(const std::string&)>& isAvailable);

}  // namespace tolv::win32
