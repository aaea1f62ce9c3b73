// The order in which serial ports are listed, the same on every platform.

#include <algorithm>
#include <cctype>
#include <utility>

#include "link/transport.h"

namespace tolv {

bool Serial_PortNameLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    const std::string tail = s.substr(digits);
    return std::make_pair(s.substr(0, digits), tail.empty() ? -1L : std::stol(tail.substr(0, 9)));
  };
  return split(a) < split(b);
}

std::vector<std::string> Serial_AvailablePorts(std::vector<std::string> names,
                                               const std::function<bool(const std::string&)>& isAvailable) {
  std::sort(names.begin(), names.end(), Serial_PortNameLess);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  std::vector<std::string> ports;
  for (const std::string& name : names) {
    if (isAvailable(name)) ports.push_back(name);
  }
  return ports;
}

}  // namespace tolv
