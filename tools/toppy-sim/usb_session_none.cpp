// toppy-sim --usb where umockdev is not available at build time.
#include <stdexcept>

#include "usb_session.h"

namespace tolv::sim {

int RunUsbSession(const UsbSessionOptions& /*options*/, const StartReceiver& /*start*/,
                  const volatile sig_atomic_t& /*stopSignal*/) {
  throw std::runtime_error(
      "--usb is not available: toppy-sim was built without umockdev (Debian packages umockdev and "
      "libumockdev-dev)");
}

}  // namespace tolv::sim
