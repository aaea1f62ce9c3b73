// The order in which serial ports are listed, the same on every platform.

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

}  // namespace tolv
