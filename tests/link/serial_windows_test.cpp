// Serial ports on Windows: the order of the list, and ports that cannot be
// opened. (A port that works is exercised by the COM-port round trip.)
#include <gtest/gtest.h>

#include <algorithm>

#include "link/transport.h"

namespace tolv {
namespace {

TEST(SerialWindows, PortsAreListedInNaturalOrder) {
  std::vector<std::string> names = {"COM10", "COM2", "COM1", "COM256", "COM3"};
  std::sort(names.begin(), names.end(), Serial_PortNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM10", "COM256"}));
  const std::vector<std::string> listed = Serial_ListPorts();
  EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), Serial_PortNameLess));
}

TEST(SerialWindows, APortThatIsNotThereIsNamedInTheReason) {
  std::string why;
  EXPECT_FALSE(Serial_Open("COM199", &why));
  EXPECT_EQ(why.rfind("COM199: no such port (", 0), 0u) << why;
  EXPECT_FALSE(IsDeviceAvailable("COM199"));
  EXPECT_FALSE(Serial_Open("NUL", &why)) << "not a serial port";
  EXPECT_FALSE(Serial_Open("", &why));
}

}  // namespace
}  // namespace tolv
