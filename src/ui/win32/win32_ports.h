// The serial ports the window lists at start-up.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tolv::win32 {

// The ports of systemPorts (the system's list that `tolv ports` shows too:
// Serial_ListPorts, every port Windows knows and that can be opened now, COM40
// as well as COM3), then each name of extra (ports given on the command line,
// such as "\\.\CNCA0") that isAvailable reports can be opened and that is not
// listed yet. isAvailable is IsDeviceAvailable in the program.
std::vector<std::string> ListComPorts(const std::vector<std::string>& systemPorts,
                                      const std::vector<std::string>& extra,
                                      const std::function<bool(const std::string&)>& isAvailable);

}  // namespace tolv::win32
