#include "ui/win32/win32_ports.h"

#include <algorithm>

namespace tolv::win32 {

std::vector<std::string> ListComPorts(const std::vector<std::string>& systemPorts,
                                      const std::vector<std::string>& extra,
                                      const std::function<bool(const std::string&)>& isAvailable) {
  std::vector<std::string> ports = systemPorts;
  for (const std::string& name : extra) {
    if (std::find(ports.begin(), ports.end(), name) == ports.end() && isAvailable(name))
      ports.push_back(name);
  }
  return ports;
}

}  // namespace tolv::win32
