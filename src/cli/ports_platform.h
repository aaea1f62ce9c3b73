// What tolv ports learns from the system, one implementation per platform.
#pragma once

#include <string>
#include <vector>

namespace tolv::cli {

struct SerialPortEntry {
  std::string name;   // "/dev/ttyUSB0", "COM3"
  std::string fault;  // why it cannot be opened now; empty when it can
};

// The serial ports of this machine: those that can be opened, and those a
// receiver could be on that cannot be opened now (no permission, held by
// another program) with why. Ports with no device behind them are left out.
std::vector<SerialPortEntry> Ports_SerialPorts();

// The USB diagnostic as the user should read it: where it advises installing
// the udev rule and the rule is in place already, the advice that helps.
std::string Ports_UsbAdvice(const std::string& diagnostic);

}  // namespace tolv::cli
