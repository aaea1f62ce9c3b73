// The byte pipe to the receiver: a serial port, or the pair of USB bulk pipes.
// The packet layer needs only these operations; one implementation per
// platform and kind of port lives in its own file (serial_posix.cpp,
// usb_libusb.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolv {

struct IoResult {
  enum class Status { Ok, Timeout, Fault };
  Status status = Status::Ok;
  int32_t byteCount = 0;  // bytes moved (Ok; on Timeout, those moved before it)
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Writes byteCount bytes from data, waiting at most timeoutMs in all.
  // Timeout when not all could be handed over in time; Fault when the device
  // is gone or refuses. A write that timed out is cancelled (or finished)
  // before returning, so data may be reused at once.
  virtual IoResult Write(const uint8_t* data, int32_t byteCount, int timeoutMs) = 0;

  // Reads up to dstCapacity bytes into dst, waiting at most timeoutMs for them.
  // USB: one call completes one bulk transfer (one reply packet), Ok with
  // byteCount 0 for a zero-length transfer, Timeout when none completed (the
  // transfer is cancelled and finished before returning, so dst is free
  // again). Serial: returns what arrived (Ok with byteCount 0 when nothing came
  // within timeoutMs). Fault when the device is gone or failed; a Fault may
  // return at once, without waiting timeoutMs. Never writes more than
  // dstCapacity bytes.
  virtual IoResult Read(uint8_t* dst, int32_t dstCapacity, int timeoutMs) = 0;

  // Discards bytes waiting in either direction (serial); nothing on USB.
  virtual void Purge() = 0;

  // A short text naming the device for the transfer log ("/dev/ttyUSB0",
  // "USB bus 1 device 7"); empty when there is nothing to say.
  virtual std::string Description() const { return {}; }
};

// USB access is reached through a provider so that tests and the receiver
// emulator can stand in for the real device. Each call polls once: it returns
// an open transport when the receiver is present and usable, else nullptr and,
// in *diagnostic, why (empty when simply no receiver is attached).
// diagnostic is never null.
using UsbProvider = std::function<std::unique_ptr<Transport>(std::string* diagnostic)>;

// Replaces the process's USB provider (the libusb one by default); an empty
// function restores the default. Call it from the thread that runs the link.
void Link_SetUsbProvider(UsbProvider provider);

// Polls once through the process's current USB provider (see above).
std::unique_ptr<Transport> Link_PollUsb(std::string* diagnostic);

// The default provider: the receiver is the USB device with vendor 0x11DB and
// product 0x1000; the link uses interface 0, its first bulk OUT endpoint as
// the pipe to the receiver and its first bulk IN endpoint as the pipe from it.
// A kernel driver bound to the interface is detached. When the device is
// present but cannot be used (no permission, interface held by another
// program, no bulk endpoints), returns nullptr and says why in *diagnostic.
std::unique_ptr<Transport> Usb_OpenReceiver(std::string* diagnostic);

// Opens the serial port name (a device path such as "/dev/ttyUSB0") for the
// link: exclusive use (no other program may hold it; another open of the same
// port fails while this one lives), raw 8-bit mode at 115200 baud, parity,
// stop bits and hardware flow control kept as the port had them, software
// flow control off (the packets are binary). Reads wait as asked; a write of n
// bytes is bounded by 100 ms per byte plus 1000 ms. Returns nullptr and the
// reason in *diagnostic (may be null) when the port cannot be opened or set
// up. Works on pseudo-terminals.
std::unique_ptr<Transport> Serial_Open(const std::string& name, std::string* diagnostic);

// The serial ports of this machine (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*)
// that can be opened now, as full paths in ascending natural order
// (/dev/ttyS2 before /dev/ttyS10). Each is probed with IsDeviceAvailable.
std::vector<std::string> Serial_ListPorts();

// The names of names (the system's list of serial ports, in any order, maybe
// twice) that isAvailable reports can be opened now, each once, in the order
// of Serial_PortNameLess. Windows lists the ports of its registry through it,
// whatever their number (COM40 as well as COM3).
std::vector<std::string> Serial_AvailablePorts(std::vector<std::string> names,
                                               const std::function<bool(const std::string&)>& isAvailable);

// The order of Serial_ListPorts: by the text before the trailing digits, then
// by the number they form ("ttyS2" before "ttyS10", "ttyACM0" before "ttyS0").
bool Serial_PortNameLess(const std::string& a, const std::string& b);

// True when the serial port name could be opened now, exactly as the link
// opens it (exclusive); the port is closed again at once. False for a port
// that another program holds.
bool IsDeviceAvailable(const std::string& name);

}  // namespace tolv
