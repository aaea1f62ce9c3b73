#include "usb_session.h"

#include <stdexcept>

namespace tolv::sim {

const char* const kUsbUsage = R"(USB device (Linux, needs umockdev):
  --usb -- COMMAND [ARGS...]
                       run COMMAND with the receiver as USB device 11db:1000,
                       found through libusb as a real one is (no serial port);
                       toppy-sim ends with COMMAND and returns its exit status.
                       Ctrl-C reaches COMMAND; SIGTERM is passed on to it.
                       e.g.  toppy-sim --usb -- tolv download --port USB -o got/
  --usb-appear-ms N    the device comes onto the bus N ms after COMMAND starts
  --usb-kernel-driver  a kernel driver holds the interface until detached
  --usb-busy           another program has claimed the interface
  --usb-no-access      the device node may not be opened (permission)
)";

namespace {

int ParseMilliseconds(const std::string& option, const std::string& text) {
  size_t end = 0;
  long value = -1;
  try {
    value = std::stol(text, &end);
  } catch (const std::exception&) {
    end = 0;
  }
  if (end == 0 || end != text.size() || value < 0 || value > 3600000)
    throw std::invalid_argument(option + " needs a number of milliseconds from 0 to 3600000, not \"" + text +
                                "\"");
  return static_cast<int>(value);
}

}  // namespace

bool ParseUsbOption(const std::vector<std::string>& args, size_t& i, UsbSessionOptions& options) {
  const std::string& option = args[i];
  UsbDeviceSwitches& device = options.device;
  if (option == "--usb") {
    options.enabled = true;
  } else if (option == "--usb-kernel-driver") {
    device.kernelDriver = true;
  } else if (option == "--usb-busy") {
    device.interfaceBusy = true;
  } else if (option == "--usb-no-access") {
    device.nodeNotPermitted = true;
  } else if (option == "--usb-appear-ms") {
    if (i + 1 >= args.size()) throw std::invalid_argument(option + " needs a value");
    device.appearAfterMs = ParseMilliseconds(option, args[++i]);
  } else {
    return false;
  }
  return true;
}

}  // namespace tolv::sim
