// The process's USB provider: libusb unless a test or the emulator put its own.

#include "link/transport.h"

namespace tolv {

namespace {

UsbProvider& InstalledProvider() {
  static UsbProvider provider;
  return provider;
}

}  // namespace

void Link_SetUsbProvider(UsbProvider provider) { InstalledProvider() = std::move(provider); }

std::unique_ptr<Transport> Link_PollUsb(std::string* diagnostic) {
  diagnostic->clear();
  // A copy: the provider may install another one while it runs.
  const UsbProvider provider = InstalledProvider();
  return provider ? provider(diagnostic) : Usb_OpenReceiver(diagnostic);
}

}  // namespace tolv
