// The receiver on USB on Windows: through its own driver when that is
// installed, else through WinUSB. Both are tried on every poll, in this order.

#include "link/win32_usb_api.h"

namespace tolv {

namespace win32 {

std::unique_ptr<Transport> Usb_OpenReceiverWith(UsbApi& api, std::string* diagnostic) {
  diagnostic->clear();
  std::string driverProblem;
  if (std::unique_ptr<Transport> receiver = Driver_OpenReceiver(api, &driverProblem)) return receiver;
  std::unique_ptr<Transport> receiver = WinUsb_OpenReceiver(api, diagnostic);
  // A receiver whose own driver is there but cannot be opened is also among
  // the USB devices, not bound to WinUSB: the driver's reason is the one
  // that helps.
  if (!receiver && !driverProblem.empty()) *diagnostic = driverProblem;
  return receiver;
}

}  // namespace win32

std::unique_ptr<Transport> Usb_OpenReceiver(std::string* diagnostic) {
  return win32::Usb_OpenReceiverWith(win32::SystemUsbApi(), diagnostic);
}

}  // namespace tolv
