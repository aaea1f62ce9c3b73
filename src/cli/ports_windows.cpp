// The serial ports on Windows: the COM ports that can be opened now.
#include "cli/ports_platform.h"
#include "link/comm.h"

namespace tolv::cli {

std::vector<SerialPortEntry> Ports_SerialPorts() {
  std::vector<SerialPortEntry> ports;
  for (const std::string& name : Comm_ListSerialPorts()) ports.push_back({name, {}});
  return ports;
}

std::string Ports_UsbAdvice(const std::string& diagnostic) { return diagnostic; }

}  // namespace tolv::cli
